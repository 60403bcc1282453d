// The chooser: its two layouts, opening and hand-back.
#include "boxwatcher.h"
#include "choosertest.h"
#include "stubtool.h"
#include "ui_runtime.h"

#include <QtTest>

class TestAbrir : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(QDir::setCurrent(workDir.path()));
        window = std::make_unique<Form1>(stub.folder());
        window->show();
    }

    void cleanup() { window.reset(); }

    void layout_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<bool>("visible");
        const QList<std::tuple<const char *, QString, QRect>> design{
            {"cmbCanc", "Cancelar", QRect(6480, 1020, 1515, 435)},
            {"cmbOk", "OK", QRect(6480, 360, 1515, 435)},
            {"Text1", "", QRect(0, 3840, 6315, 315)},
            {"File1", "", QRect(2820, 360, 3495, 3015)},
            {"Dir1", "", QRect(0, 360, 2775, 3015)},
            {"Drive1", "", QRect(0, 0, 2775, 315)},
            {"Label1", "Selecione o arquivo BSP", QRect(2940, 60, 1875, 195)},
            {"Labe", "Nome do Arquivo", QRect(0, 3540, 2775, 255)}};
        for (const auto &[name, text, twips] : design) {
            QTest::addRow("BSP %s", name) << "Command1" << name << text << twips << true;
            const bool hidden =
                QString(name) == "File1" || QString(name) == "Text1" || QString(name) == "Labe";
            QRect mapTwips = twips;
            if (QString(name) == "Dir1")
                mapTwips.setSize(QSize(6315, 3795));
            const QString mapText = QString(name) == "Label1" ? "Selecione o diretorio." : text;
            QTest::addRow("MAP %s", name) << "Command2" << name << mapText << mapTwips << !hidden;
        }
    }

    void layout()
    {
        QFETCH(QString, button);
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(bool, visible);
        const bool opened = inChooser(*window, qPrintable(button), [&](Abrir &chooser) {
            QCOMPARE(chooser.windowTitle(), QStringLiteral("Abrir"));
            QCOMPARE(chooser.size(), QSize(ui::twipsToPixels(8115), ui::twipsToPixels(4230)));
            QCOMPARE(chooser.focusWidget(), control(chooser, "cmbCanc"));
            QWidget *w = control(chooser, qPrintable(name));
            QVERIFY(w);
            QCOMPARE(w->isVisibleTo(&chooser), visible);
            if (w->metaObject()->indexOfProperty("text") >= 0 && !qobject_cast<QLineEdit *>(w))
                QCOMPARE(w->property("text").toString(), text);
            const QRect designed(ui::twipsToPixels(twips.x()), ui::twipsToPixels(twips.y()),
                                 ui::twipsToPixels(twips.width()),
                                 ui::twipsToPixels(twips.height()));
            QCOMPARE(w->pos(), designed.topLeft());
            if (auto *label = qobject_cast<QLabel *>(w)) {
                QCOMPARE(label->width(), qMax(designed.width(), label->sizeHint().width()));
                QCOMPARE(label->height(), qMax(designed.height(), label->sizeHint().height()));
            } else {
                QCOMPARE(w->size(), designed.size());
            }
        });
        QVERIFY(opened);
    }

    void tabOrder()
    {
        QStringList walk;
        QVERIFY(inChooser(*window, "Command1", [&](Abrir &chooser) {
            QWidget *w = control(chooser, "cmbCanc");
            for (int i = 0; i < 6; ++i) {
                w = w->nextInFocusChain();
                while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(&chooser) ||
                       w->parent() != &chooser)
                    w = w->nextInFocusChain();
                walk << w->objectName();
            }
        }));
        QCOMPARE(walk, QStringList({"cmbOk", "Text1", "File1", "Dir1", "Drive1", "cmbCanc"}));
    }

    void everyOpeningStartsFromTheDesign()
    {
        QVERIFY(inChooser(*window, "Command2", [](Abrir &) {}));
        QVERIFY(!window->findChild<Abrir *>());
        QVERIFY(inChooser(*window, "Command1", [](Abrir &chooser) {
            QVERIFY(control(chooser, "File1")->isVisibleTo(&chooser));
            QCOMPARE(control<QLabel>(chooser, "Label1")->text(), "Selecione o arquivo BSP");
            QCOMPARE(control(chooser, "Dir1")->width(), ui::twipsToPixels(2775));
        }));
    }

    void handBack_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expectedBsp");
        QTest::addColumn<QString>("expectedMap");
        const QString cwd = QDir::currentPath();
        QTest::newRow("BSP ok, empty name") << "Command1"
                                            << "ok"
                                            << ""
                                            << "old.map";
        QTest::newRow("BSP ok, typed name") << "Command1"
                                            << "type"
                                            << "/x/typed.bsp"
                                            << "old.map";
        QTest::newRow("BSP cancel") << "Command1"
                                    << "cancel"
                                    << "old.bsp"
                                    << "old.map";
        QTest::newRow("BSP frame close") << "Command1"
                                         << "close"
                                         << "old.bsp"
                                         << "old.map";
        QTest::newRow("BSP escape") << "Command1"
                                    << "escape"
                                    << "old.bsp"
                                    << "old.map";
        QTest::newRow("MAP ok") << "Command2"
                                << "ok"
                                << "old.bsp"
                                << "<cwd>";
        QTest::newRow("MAP cancel") << "Command2"
                                    << "cancel"
                                    << "old.bsp"
                                    << "old.map";
        QTest::newRow("MAP frame close") << "Command2"
                                         << "close"
                                         << "old.bsp"
                                         << "old.map";
    }

    void handBack()
    {
        QFETCH(QString, button);
        QFETCH(QString, action);
        QFETCH(QString, expectedBsp);
        QFETCH(QString, expectedMap);
        control<QLineEdit>(*window, "txtBSP")->setText("old.bsp");
        control<QLineEdit>(*window, "txtMAP")->setText("old.map");
        bool stillOpenAfterEscape = false;
        QVERIFY(inChooser(*window, qPrintable(button), [&](Abrir &chooser) {
            if (action == "type") {
                typeText(control(chooser, "Text1"), "/x/typed.bsp");
                control<QPushButton>(chooser, "cmbOk")->click();
            } else if (action == "ok") {
                QTest::mouseClick(control<QPushButton>(chooser, "cmbOk"), Qt::LeftButton);
            } else if (action == "cancel") {
                QTest::mouseClick(control<QPushButton>(chooser, "cmbCanc"), Qt::LeftButton);
            } else if (action == "close") {
                chooser.close();
            } else if (action == "escape") {
                QTest::keyClick(&chooser, Qt::Key_Escape);
                stillOpenAfterEscape = chooser.isVisible();
            }
        }));
        if (action == "escape")
            QVERIFY(stillOpenAfterEscape);
        QCOMPARE(control<QLineEdit>(*window, "txtBSP")->text(), expectedBsp);
        QCOMPARE(control<QLineEdit>(*window, "txtMAP")->text(),
                 expectedMap == "<cwd>" ? QDir::currentPath() : expectedMap);
        QCOMPARE(control<QLineEdit>(*window, "txtOperacao")->text(),
                 button == "Command1" ? "BSP" : "MAP");
        QVERIFY(!window->findChild<Abrir *>());
    }

    void patternListsMatchingFilesOnly()
    {
        for (const char *name : {"a.bsp", "B.BSP", "c.Bsp", "d.map", "e.bspx", ".hidden.bsp"})
            StubFolder::writeRaw(ui::encodeName(workDir.filePath(name)), "x");
        QVERIFY(QDir(workDir.path()).mkdir("x.bsp"));
        QStringList bspFiles, mapFiles;
        QVERIFY(inChooser(*window, "Command1", [&](Abrir &chooser) {
            bspFiles = rowsOf(control<QAbstractItemView>(chooser, "File1"));
        }));
        QVERIFY(inChooser(*window, "Command2", [&](Abrir &chooser) {
            mapFiles = rowsOf(control<QAbstractItemView>(chooser, "File1"));
        }));
        QCOMPARE(bspFiles, QStringList({"a.bsp", "B.BSP", "c.Bsp"}));
        QCOMPARE(mapFiles, QStringList({"d.map"}));
    }

private:
    QTemporaryDir workDir;
    StubFolder stub;
    std::unique_ptr<Form1> window;
};

QTEST_MAIN(TestAbrir)
#include "tst_abrir.moc"
