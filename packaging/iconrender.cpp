// Renders the program's scalable icon into the PNG sizes of the hicolor theme at build time,
// so the one SVG stays the only drawing: iconrender SVG OUTDIR SIZE...
// writes OUTDIR/SIZExSIZE/apps/brindlewave.png for each size. It reads the SVG through Qt's
// image plugin, which the program itself needs for its icons anyway.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: iconrender SVG OUTDIR SIZE...\n");
        return 2;
    }
    const QGuiApplication app(argc, argv);
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "iconrender: '%s' is no icon size\n", argv[i]);
            return 2;
        }
        QImageReader reader(svg, "svg");
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        if (image.isNull()) {
            std::fprintf(stderr, "iconrender: %s: %s\n", argv[1], qPrintable(reader.errorString()));
            return 1;
        }
        const QString dir = outDir + QStringLiteral("/%1x%1/apps").arg(size);
        const QString file = dir + QStringLiteral("/brindlewave.png");
        if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
