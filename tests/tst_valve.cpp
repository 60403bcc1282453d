// Quake III maps in Valve 220: each face's texel axes must give back the BSP's st
// with the image sizes the game would find, in game folders built here; OpenArena's
// maps with the Debian image packages are in tst_convert_real.
#include "convertkit.h"
#include "imagecheck.h"

#include <QBuffer>
#include <QImage>

using Files = QList<QPair<QByteArray, QByteArray>>; // "place:path", bytes

// An image file of that size, written by Qt (PNG, JPEG) or as a TGA header.
QByteArray image(const char *format, int width, int height)
{
    QByteArray bytes("\0\0\2\0\0\0\0\0\0\0\0\0", 12);
    QBuffer out(&bytes);
    if (QByteArray(format) != "tga")
        return bytes.clear(), QImage(width, height, QImage::Format_RGB32).save(&out, format), bytes;
    for (const int n : {width, height})
        bytes += char(n), bytes += char(n >> 8);
    return bytes + QByteArray("\x20\0", 2);
}

class TestValve : public QObject {
    Q_OBJECT

private slots:
    void findsEachImageSize_data()
    {
        QTest::addColumn<QByteArray>("where"); // the map: in a pk3, under maps/, elsewhere
        QTest::addColumn<Files>("files");
        QTest::addColumn<QList<QSize>>("sizes"); // of textures/t/a, b, c; none: assumed
        QTest::addColumn<QByteArray>("warning");
        const QByteArray script =
            "// sky and stages\ntextures/t/a { qer_editorimage textures/ed/a.png\n{ map "
            "textures/t/no.tga } }\ntextures/t/b { skyparms - 512 - }\ntextures/t/c { "
            "surfaceparm nomarks\n{ map $lightmap }\n{ clampmap textures/s/c.jpg } }\n";
        QTest::newRow("each type, a sibling pk3")
            << QByteArray("game/zz.pk3/maps/v.bsp")
            << Files{{"zz.pk3:textures/t/a.tga", image("tga", 128, 32)},
                     {"a.pk3:textures/t/b.png", image("png", 256, 64)},
                     {"a.pk3:textures/t/c.jpg", image("jpeg", 32, 512)}}
            << QList<QSize>{{128, 32}, {256, 64}, {32, 512}} << QByteArray();
        QTest::newRow("scripts, a shader with none")
            << QByteArray("game/maps/v.bsp")
            << Files{{"p.pk3:scripts/t.shader", script},
                     {"p.pk3:textures/ed/a.png", image("png", 512, 16)},
                     {"p.pk3:textures/t/a.tga", image("tga", 8, 8)},
                     {"p.pk3:textures/s/c.jpg", image("jpeg", 16, 256)}}
            << QList<QSize>{{512, 16}, {}, {16, 256}} << QByteArray();
        QTest::newRow("later pk3 and loose files win, -game")
            << QByteArray("v.bsp")
            << Files{{"a.pk3:textures/t/a.tga", image("tga", 32, 32)},
                     {"b.pk3:textures/t/a.tga", image("tga", 1024, 2)},
                     {"b.pk3:textures/t/b.tga", image("tga", 4, 4)},
                     {"loose:textures/t/b.tga", image("tga", 2, 128)},
                     {"loose:scripts/x.shader", script},
                     {"loose:textures/s/c.jpg", image("jpeg", 8, 64)}}
            << QList<QSize>{{1024, 2}, {2, 128}, {8, 64}} << QByteArray();
        QTest::newRow("corrupt headers")
            << QByteArray("game/zz.pk3/maps/v.bsp")
            << Files{{"p.pk3:textures/t/a.tga", image("tga", 64, 64).left(12)},
                     {"p.pk3:textures/t/b.png", image("png", 64, 64).replace(1, 3, "GIF")},
                     {"p.pk3:textures/t/c.jpg", QByteArray("\xff\xd8\xff\xe0\x40\0JFIF", 10)}}
            << QList<QSize>{{}, {}, {}} << QByteArray("cabeçalho de imagem danificado");
        QTest::newRow("a script never closed")
            << QByteArray("game/zz.pk3/maps/v.bsp")
            << Files{{"p.pk3:scripts/t.shader", script.left(script.lastIndexOf('}'))},
                     {"p.pk3:textures/ed/a.png", image("png", 128, 256)},
                     {"p.pk3:textures/t/c.tga", image("tga", 16, 16)},
                     {"p.pk3:textures/s/c.jpg", image("jpeg", 32, 32)}}
            << QList<QSize>{{128, 256}, {}, {16, 16}} << QByteArray("nunca é fechada");
    }
    void findsEachImageSize()
    {
        QFETCH(QByteArray, where);
        QFETCH(Files, files);
        QFETCH(QList<QSize>, sizes);
        QFETCH(QByteArray, warning);
        Folder tmp;
        const QByteArray game = tmp.path + "/game";
        BspWriter w;
        w.entities = "{\n\"classname\" \"worldspawn\"\n}\n";
        for (int k = 0; k < 3; ++k) { // every face turned, its texture sheared and scaled
            const int s = w.shader("textures/t/" + QByteArray(1, char('a' + k)));
            w.brush(w.box({k * 64.0, 0, 0}, {k * 64.0 + 32, 48, 16 + k * 8.0}, s, 20 + 15 * k), s);
        }
        const QByteArray bsp = w.bytes(), input = tmp.path + '/' + where;
        QVERIFY(std::filesystem::create_directory(game.toStdString()));
        if (!where.contains(".pk3/"))
            QVERIFY(writeFile(input, bsp));
        else
            files.append({"zz.pk3:maps/v.bsp", bsp});
        QMap<QByteArray, Files> pk3s;
        for (const auto &[name, bytes] : files)
            if (name.startsWith("loose:"))
                QVERIFY(writeFile(game + '/' + name.mid(6), bytes));
            else
                pk3s[name.left(name.indexOf(':'))].append({name.mid(name.indexOf(':') + 1), bytes});
        for (auto it = pk3s.begin(); it != pk3s.end(); ++it)
            QVERIFY(check::writeZip(game + '/' + it.key(), it.value()));
        const Run r =
            convert(QByteArrayList{"-bsp2map", input, "-output", tmp.path, "-format", "valve"} +
                    (where.startsWith("game/") ? QByteArrayList() : QByteArrayList{"-game", game}));
        QVERIFY2(r.exit == 0 && (warning.isEmpty() ? r.err.isEmpty() : r.err.contains(warning)),
                 r.err);
        QStringList places;
        for (const QByteArray &name : names(game))
            places << QString::fromUtf8(game + '/' + name);
        const check::Sizes images = check::imageSizes(places.filter(".pk3") << game);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(images("textures/t/" + QByteArray(1, char('a' + k))), sizes[k]);
        const auto map = check::readMap(readAll(tmp.path + "/v.map"));
        const check::Fidelity f = check::compare(check::readBsp(bsp), map.value, false, &images);
        QVERIFY2(map.ok() && f.problems.isEmpty(), qPrintable(map.error + f.problems.join('\n')));
        const int assumed = 6 * int(sizes.count(QSize()));
        QVERIFY(f.facesAssumedSize == assumed && f.facesJudged == 18 && f.cornersExcused == 0);
        QCOMPARE(r.out.contains(QByteArray::number(assumed) + " faces sem imagem"), assumed > 0);
    }
};

QTEST_GUILESS_MAIN(TestValve)
#include "tst_valve.moc"
