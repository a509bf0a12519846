// tc_xshot <out.png> [x y w h]: saves the X screen (or a part of it) of $DISPLAY as PNG.
// Used by the Xvfb smoke test to photograph the real program's main window from outside.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 6)
    {
        std::fprintf(stderr, "usage: tc_xshot <out.png> [x y w h]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen* pScreen = QGuiApplication::primaryScreen();
    if (pScreen == nullptr)
        return 1;
    QPixmap shot = pScreen->grabWindow(0);
    if (argc == 6)
        shot = shot.copy(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    return shot.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
