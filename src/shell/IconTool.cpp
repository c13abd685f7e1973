// Writes the program's icons as the PNG files the desktop's icon theme takes: the window's own
// 16 x 16 drawing (XPM) as it is, or the vector drawing (SVG) at a given size.
//   fanjian_icon_tool ICON.xpm ICON.png
//   fanjian_icon_tool ICON.svg ICON.png SIZE
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s ICON.xpm ICON.png | %s ICON.svg ICON.png SIZE\n", argv[0], argv[0]);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    QImage icon;
    if (argc == 3) {
        icon = QImage(source);
    } else {
        const int size = std::atoi(argv[3]);
        QSvgRenderer drawing(source);
        if (size > 0 && drawing.isValid()) {
            icon = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
            icon.fill(Qt::transparent);
            QPainter painter(&icon);
            drawing.render(&painter);
        }
    }
    if (icon.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    if (!icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
