// The main window: its layout, keyboard behaviour and the launch it starts.
#include "application.h"
#include "boxwatcher.h"
#include "form1.h"
#include "stubtool.h"
#include "ui_runtime.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <stdexcept>

class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        window = std::make_unique<Form1>(stub.folder());
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup() { window.reset(); }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<bool>("visible");
        QTest::newRow("txtBSP") << "txtBSP"
                                << "QLineEdit"
                                << "" << QRect(120, 600, 4575, 315) << true;
        QTest::newRow("Command1") << "Command1"
                                  << "QPushButton"
                                  << "..." << QRect(4800, 600, 255, 315) << true;
        QTest::newRow("txtMAP") << "txtMAP"
                                << "QLineEdit"
                                << "" << QRect(120, 1320, 4575, 315) << true;
        QTest::newRow("Command2") << "Command2"
                                  << "QPushButton"
                                  << "..." << QRect(4800, 1320, 255, 315) << true;
        QTest::newRow("Label1") << "Label1"
                                << "QLabel"
                                << "Selecione arquivo BSP" << QRect(180, 300, 1995, 255) << true;
        QTest::newRow("Label2") << "Label2"
                                << "QLabel"
                                << "Selecione o diretório destino" << QRect(180, 1020, 3195, 255)
                                << true;
        QTest::newRow("txtOperacao") << "txtOperacao"
                                     << "QLineEdit"
                                     << "" << QRect(120, 1800, 1035, 285) << false;
        QTest::newRow("Command3") << "Command3"
                                  << "QPushButton"
                                  << "Descompilar" << QRect(1740, 1740, 1395, 495) << true;
    }

    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(bool, visible);
        QWidget *w = window->findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->metaObject()->className(), kind);
        QCOMPARE(w->property("text").toString(), text);
        QCOMPARE(w->isVisibleTo(window.get()), visible);
        const QRect designed = pixels(twips);
        QCOMPARE(w->pos(), designed.topLeft());
        if (auto *label = qobject_cast<QLabel *>(w)) {
            // A label may only grow, and only as far as its text needs.
            QCOMPARE(label->width(), qMax(designed.width(), label->sizeHint().width()));
            QCOMPARE(label->height(), qMax(designed.height(), label->sizeHint().height()));
            QCOMPARE(label->palette().color(QPalette::WindowText),
                     window->palette().color(QPalette::Highlight));
        } else {
            QCOMPARE(w->size(), designed.size());
        }
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            QVERIFY(!button->isDefault() && !button->autoDefault());
            QVERIFY(!button->text().contains('&'));
        }
    }

    void window_()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Quelm BSP to MAP"));
        QCOMPARE(window->size(), pixels(QRect(0, 0, 5160, 2310)).size());
        QCOMPARE(QApplication::applicationName(), QStringLiteral("Vostrand"));
    }

    void noLabelOverlapsAnotherControl()
    {
        const QList<QWidget *> controls = window->findChildren<QWidget *>();
        for (QLabel *label : window->findChildren<QLabel *>()) {
            for (QWidget *other : controls) {
                if (other != label && other->isVisibleTo(window.get()) &&
                    other->parent() == window.get())
                    QVERIFY2(!label->geometry().intersects(other->geometry()),
                             qPrintable(label->objectName() + " overlaps " + other->objectName()));
            }
        }
    }

    void focusStartsInBspFieldAndTabWalksTheButtons()
    {
        QCOMPARE(QApplication::focusWidget(), field("txtBSP"));
        QStringList walk;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walk << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walk, QStringList({"Command1", "txtMAP", "Command2", "Command3", "txtBSP"}));
    }

    void resizingMovesNothing()
    {
        QHash<QString, QRect> before;
        for (QWidget *w : window->findChildren<QWidget *>())
            before.insert(w->objectName(), w->geometry());
        window->resize(900, 700);
        window->showMaximized();
        QApplication::processEvents();
        for (QWidget *w : window->findChildren<QWidget *>())
            QCOMPARE(w->geometry(), before.value(w->objectName()));
    }

    void typedTextReachesTheTool_data()
    {
        QTest::addColumn<QString>("bsp");
        QTest::addColumn<QString>("map");
        QTest::newRow("plain") << "/maps/arena.bsp"
                               << "/out";
        QTest::newRow("quotes and blanks") << "/m/\"a b\".bsp"
                                           << " /o ";
        QTest::newRow("accents") << "/mapas/ação.bsp"
                                 << "/saída";
    }

    void typedTextReachesTheTool()
    {
        QFETCH(QString, bsp);
        QFETCH(QString, map);
        typeText(field("txtBSP"), bsp);
        QTest::keyClick(field("txtBSP"), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), field("txtMAP"));
        typeText(field("txtMAP"), map);
        const int before = int(stub.records().size());
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
        QVERIFY(stub.waitForRecords(before + 1));
        QList<QByteArray> argv;
        for (const StubRecord &r : stub.records()) {
            if (r.argv.value(2) == ui::encodeName(bsp))
                argv = r.argv.mid(1);
        }
        QCOMPARE(argv, QList<QByteArray>(
                           {"-bsp2map", ui::encodeName(bsp), "-output", ui::encodeName(map)}));
    }

    void aMissingToolShowsTheBoxAndKeepsTheFields()
    {
        Form1 orphan(missing.path());
        orphan.show();
        orphan.findChild<QLineEdit *>("txtBSP")->setText("/a.bsp");
        orphan.findChild<QLineEdit *>("txtMAP")->setText("/out");
        BoxWatcher boxes;
        QTest::mouseClick(orphan.findChild<QPushButton *>("Command3"), Qt::LeftButton);
        QCOMPARE(boxes.seen.size(), 1);
        const SeenBox box = boxes.seen.first();
        QCOMPARE(box.title, QStringLiteral("Ops!"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QList<QMessageBox::StandardButton>({QMessageBox::Ok}));
        QCOMPARE(box.text,
                 QStringLiteral("Não foi possível iniciar %1/bspc.exe: arquivo não encontrado")
                     .arg(missing.path()));
        QCOMPARE(orphan.findChild<QLineEdit *>("txtBSP")->text(), QStringLiteral("/a.bsp"));
        QCOMPARE(orphan.findChild<QLineEdit *>("txtMAP")->text(), QStringLiteral("/out"));
    }

    void anEscapedExceptionIsShownAndTheProgramGoesOn()
    {
        QPushButton thrower;
        connect(&thrower, &QPushButton::clicked, [] { throw std::runtime_error("disco cheio"); });
        thrower.show();
        BoxWatcher boxes;
        QTest::mouseClick(&thrower, Qt::LeftButton);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen.first().title, QStringLiteral("Ops!"));
        QVERIFY(boxes.seen.first().text.contains(QStringLiteral("disco cheio")));
        // Still alive and still answering input.
        QTest::keyClicks(field("txtBSP"), "ok");
        QCOMPARE(field("txtBSP")->text(), QStringLiteral("ok"));
    }

private:
    QRect pixels(const QRect &t) const
    {
        return QRect(ui::twipsToPixels(t.x()), ui::twipsToPixels(t.y()),
                     ui::twipsToPixels(t.width()), ui::twipsToPixels(t.height()));
    }
    QLineEdit *field(const char *name) const { return window->findChild<QLineEdit *>(name); }
    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(name); }

    StubFolder stub;
    QTemporaryDir missing;
    std::unique_ptr<Form1> window;
};

int main(int argc, char **argv)
{
    ui::Application app(argc, argv);
    app.setApplicationName(QStringLiteral("Vostrand"));
    TestForm1 test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_form1.moc"
