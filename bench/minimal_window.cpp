// The reference for bench/window_start.py: the least a Qt Widgets program
// does to put a window of the check window's size on the screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.resize(418, 397);
    window.setWindowTitle(QStringLiteral("minimal"));
    window.show();
    return application.exec();
}
