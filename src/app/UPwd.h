// The program's one dialog: a button that sets up the certificate directory.
// The first setup run starts by itself once the dialog is active.
#pragma once

#include "Forms.h"

#include <QByteArray>
#include <functional>

class QPushButton;

// The whole setup run: opens the store "My", imports every certificate and
// CRL of the root bundle three times over (failed imports are ignored) and
// reports completion. loadBundle gives the bundle's bytes (empty: none).
void RunCertificateSetup(const std::function<QByteArray()>& loadBundle);

// The root bundle the executable carries (resource "ROOTS"), or empty.
QByteArray LoadRootBundle();

class TForm1 : public TForm
{
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    QPushButton* Button1;

    void FormActivate(QObject* sender);
    void Button1Click(QObject* sender);

    // Where a run takes the root bundle from.
    std::function<QByteArray()> BundleSource = LoadRootBundle;

protected:
    void WndProc(TMessage& message) override;
};

extern TForm1* Form1;
