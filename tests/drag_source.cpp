// A drag source as a file manager is one: a press drags the files named after
// its first argument, with the actions that argument holds (Qt::DropActions as
// a number), moving by default. It prints the action the target took and runs
// on until it is ended, as the target may still be reading the data.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class DragSource : public QWidget {
protected:
    void mousePressEvent(QMouseEvent *) override
    {
        const QStringList args = QCoreApplication::arguments();
        auto *data = new QMimeData;
        for (const QString &file : args.mid(2))
            data->setUrls(data->urls() << QUrl::fromLocalFile(file));
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        std::printf("%d\n",
                    int(drag->exec(Qt::DropActions(args.value(1).toInt()), Qt::MoveAction)));
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    DragSource source;
    source.setWindowTitle(QStringLiteral("drag source"));
    source.setGeometry(600, 600, 100, 100);
    source.show();
    return app.exec();
}
