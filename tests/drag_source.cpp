// A drag source as a file manager is one: pressed, it drags the file:// URLs
// of its arguments with the actions that its first argument names (a number,
// Qt::DropActions), moving by default, and prints the action the target took.
// It runs until it is ended.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class DragSource : public QWidget {
public:
    Qt::DropActions offered;
    QList<QUrl> urls;

protected:
    void mousePressEvent(QMouseEvent *) override
    {
        auto *drag = new QDrag(this);
        auto *data = new QMimeData;
        data->setUrls(urls);
        drag->setMimeData(data);
        std::printf("%d\n", int(drag->exec(offered, Qt::MoveAction)));
        // The target may still be reading the data, so it stays until ended.
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    DragSource source;
    source.offered = Qt::DropActions(QByteArray(argc > 1 ? argv[1] : "").toInt());
    for (int i = 2; i < argc; ++i)
        source.urls.append(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
    source.setWindowTitle(QStringLiteral("drag source"));
    source.setGeometry(600, 600, 100, 100);
    source.show();
    return app.exec();
}
