// The busy cursor for the life of the object, so a long operation on the GUI
// thread shows that it is working; nothing happens without a GUI.
#pragma once

class TBusyCursor
{
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    bool FShown = false;
};
