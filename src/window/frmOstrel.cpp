#include "window/frmOstrel.h"

#include "entry/Version.h"

#include <QCloseEvent>

namespace {

// Layout measures are kept in twips; the window works at 15 twips a pixel.
constexpr int twips(int value)
{
    return value / 15;
}

} // namespace

frmOstrel::frmOstrel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmOstrel"));
    resize(twips(6270), twips(5955));
}

void frmOstrel::Form_Load()
{
    setWindowTitle(Version::caption());
    show();
}

void frmOstrel::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmOstrel::Form_Unload()
{
}
