// What a desktop user meets beyond the layout: Qt's own texts in Portuguese,
// names for screen readers, drops from a file manager, and no clipped text at
// any scale (this runs at 1x, 2x and 120 DPI).
#include "abrir.h"
#include "application.h"
#include "form1.h"
#include "identity.h"
#include "testkit.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>

class TestDesktop : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    StubFolder stub;

    // Every visible label fits its text and overlaps no other control.
    static void checkNothingClipped(QWidget &window)
    {
        const QList<QWidget *> controls =
            window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QLabel *label : window.findChildren<QLabel *>()) {
            if (!label->isVisibleTo(&window))
                continue;
            QVERIFY2(label->width() >= label->sizeHint().width() &&
                         label->height() >= label->sizeHint().height(),
                     qPrintable(label->objectName()));
            for (QWidget *other : controls)
                QVERIFY2(other == label || !other->isVisibleTo(&window) ||
                             !label->geometry().intersects(other->geometry()),
                         qPrintable(label->objectName() + " over " + other->objectName()));
        }
    }

private slots:
    void qtTextsArePortuguese()
    {
        QLineEdit field;
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        QStringList texts;
        for (QAction *action : menu->actions())
            texts << action->text().remove('&').section('\t', 0, 0);
        for (const char *expected : {"Desfazer", "Refazer", "Recortar", "Copiar", "Colar"})
            QVERIFY2(texts.contains(expected), qPrintable(texts.join(", ")));
    }

    void everyControlIsNamed_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("main window") << "";
        QTest::newRow("chooser, BSP") << "BSP";
        QTest::newRow("chooser, MAP") << "MAP";
    }

    void everyControlIsNamed()
    {
        QFETCH(QString, mode);
        Form1 main(stub.folder());
        QLineEdit modeField(mode);
        std::unique_ptr<QWidget> chooser;
        if (!mode.isEmpty())
            chooser = std::make_unique<Abrir>(&modeField, nullptr);
        QWidget &window = chooser ? *chooser : main;
        window.show();
        const QHash<QString, QString> expected{{"txtBSP", "Selecione arquivo BSP"},
                                               {"txtMAP", "Selecione o diretório destino"},
                                               {"Command1", "Escolher arquivo BSP"},
                                               {"Command2", "Escolher diretório destino"},
                                               {"Command3", "Descompilar"},
                                               {"Text1", "Nome do Arquivo"},
                                               {"File1", "Selecione o arquivo BSP"},
                                               {"cmbOk", "OK"},
                                               {"cmbCanc", "Cancelar"},
                                               {"Label1", mode == "MAP" ? "Selecione o diretorio."
                                                          : mode.isEmpty()
                                                              ? "Selecione arquivo BSP"
                                                              : "Selecione o arquivo BSP"}};
        for (QWidget *w : window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            if (expected.contains(w->objectName()))
                QCOMPARE(w->accessibleName(), expected.value(w->objectName()));
        }
        for (const char *name : {"Command1", "Command2"}) {
            if (auto *button = window.findChild<QPushButton *>(name))
                QCOMPARE(button->toolTip(), button->accessibleName());
        }
        checkNothingClipped(window);
        // Proportions hold whatever the scale: everything comes from the design's twips.
        const QSize design = chooser ? QSize(8115, 4230) : QSize(5160, 2310);
        QCOMPARE(window.size(), QSize(ui::twipsToPixels(design.width(), &window),
                                      ui::twipsToPixels(design.height(), &window)));
    }

    void dropsFillThePathFields_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map");
        const QString d = dir.path();
        const QString file = "file://" + d + "/arena.bsp";
        QTest::newRow("file on the window")
            << QStringList{file} << "Form1" << true << d + "/arena.bsp"
            << "old.map";
        QTest::newRow("file on txtMAP") << QStringList{file} << "txtMAP" << true << d + "/arena.bsp"
                                        << "old.map";
        QTest::newRow("folder on txtBSP")
            << QStringList{"file://" + d} << "txtBSP" << true << "old.bsp" << d;
        QTest::newRow("file and folder")
            << QStringList{"file://" + d, file} << "Form1" << true << d + "/arena.bsp" << d;
        QTest::newRow("name not in UTF-8")
            << QStringList{"file://" + d + "/mapa%E7%E3o.bsp"} << "txtBSP" << true
            << core::decodeName(core::encodeName(d) + "/mapa\xe7\xe3o.bsp") << "old.map";
        QTest::newRow("web address")
            << QStringList{"https://example.org/arena.bsp"} << "Form1" << false << "old.bsp"
            << "old.map";
        QTest::newRow("local and web")
            << QStringList{file, "https://example.org/x"} << "txtBSP" << false << "old.bsp"
            << "old.map";
    }

    void dropsFillThePathFields()
    {
        QFETCH(QStringList, urls);
        QFETCH(QString, target);
        QFETCH(bool, accepted);
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        Form1 main(stub.folder());
        main.show();
        main.findChild<QLineEdit *>("txtBSP")->setText("old.bsp");
        main.findChild<QLineEdit *>("txtMAP")->setText("old.map");
        QMimeData data;
        QList<QUrl> list;
        for (const QString &url : urls)
            list << QUrl::fromEncoded(url.toLatin1());
        data.setUrls(list);
        QWidget *on = target == "Form1" ? &main : main.findChild<QWidget *>(target);
        const QPoint at = on->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(on, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(on, &drop);
        QCOMPARE(main.findChild<QLineEdit *>("txtBSP")->text(), bsp);
        QCOMPARE(main.findChild<QLineEdit *>("txtMAP")->text(), map);
    }
};

int main(int argc, char **argv)
{
    qputenv("LANGUAGE", "C"); // the program's language must not follow the system's
    ui::Application app(argc, argv);
    setUpIdentity(app);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desktop.moc"
