// Drives the built vostrand in a real X window with xdotool.
#pragma once

#include "stubtool.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

class WindowDriver {
public:
    WindowDriver()
    {
        QFile display(qEnvironmentVariable("XVFB_STATE") + "/display");
        if (display.open(QIODevice::ReadOnly))
            displayName = ":" + QString::fromLatin1(display.readAll().trimmed());
        QFile::copy(qEnvironmentVariable("VOSTRAND_EXE"), stub.folder() + "/vostrand");
    }

    ~WindowDriver() { stop(); }

    void stop()
    {
        program.kill();
        program.waitForFinished();
    }

    bool hasDisplay() const { return displayName.size() > 1; }

    // Starts vostrand from `workingDir` and waits for its main window.
    bool start(const QString &workingDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", displayName);
        env.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(workingDir);
        program.setProgram(stub.folder() + "/vostrand");
        program.start();
        if (!program.waitForStarted())
            return false;
        mainWindow = waitForWindow("Quelm BSP to MAP");
        return !mainWindow.isEmpty();
    }

    QString waitForWindow(const QString &title)
    {
        return xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"})
            .split('\n')
            .first();
    }

    QString xdotool(const QStringList &args)
    {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", displayName);
        tool.setProcessEnvironment(env);
        tool.start("xdotool", args);
        tool.waitForFinished(30000);
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    void focus(const QString &window) { xdotool({"windowfocus", "--sync", window}); }
    void type(const QString &text) { xdotool({"type", "--delay", "30", text}); }
    void key(const QString &keys)
    {
        xdotool(QStringList{"key", "--delay", "30"} + keys.split(' '));
    }

    // Clicks at (x, y) pixels inside `window`'s client area.
    void click(const QString &window, int x, int y)
    {
        xdotool(
            {"mousemove", "--sync", "--window", window, QString::number(x), QString::number(y)});
        xdotool({"click", "1"});
    }

    // Saves a picture of `window` in the build tree.
    void screenshot(const QString &window, const QString &name)
    {
        const QString dir = qEnvironmentVariable("SCREENSHOT_DIR");
        QDir().mkpath(dir);
        QProcess import;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", displayName);
        import.setProcessEnvironment(env);
        import.start("import", {"-window", window, dir + "/" + name + ".png"});
        import.waitForFinished(30000);
    }

    StubFolder stub;
    QProcess program;
    QString mainWindow;
    QString displayName;
};
