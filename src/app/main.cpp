#include "Application.h"
#include "UPwd.h"

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    application.Initialize();
    Form1 = application.CreateForm<TForm1>();
    return application.Run();
}
