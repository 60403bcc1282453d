// bspc.exe on small BSPs built here: the cases that real maps may not hold, the
// command line, and hostile files. The inputs are kept as the fuzzer's seeds.
#include "convertkit.h"

using check::Vec;
using Floats = std::vector<float>;

namespace {

const QByteArray world = "{\n\"classname\" \"worldspawn\"\n\"message\" \"sala\"\n}\n";

// A floor with textured faces: what every case starts from.
BspWriter room()
{
    BspWriter w;
    w.entities = world;
    const int floor = w.shader("textures/base/floor");
    w.brush(w.box({-128, -128, -16}, {128, 128, 0}, floor), floor);
    return w;
}

// The room and a door turned about its origin, with a patch: what real maps have most.
BspWriter roomWithDoor(const QByteArray &entities = {})
{
    BspWriter w = room();
    const int wall = w.shader("textures/base/wall");
    w.entities = entities.isNull()
                     ? world + "{\n\"classname\" \"func_rotating\"\n\"model\" \"*1\"\n"
                               "\"origin\" \"256 128 32\"\n\"angle\" \"30\"\n}\n"
                     : entities;
    w.model();
    w.brush(w.box({-16, -8, -8}, {16, 8, 8}, wall, 30), wall); // stored around its origin
    Floats points; // a curved patch 3 by 5, its st shifted by whole repeats
    for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col)
            points.insert(points.end(),
                          {float(16 * col - 24), float(8 * row - 16),
                           float(8 + 4 * std::sin(col + row)), 3 + col / 8.f, row * 0.3f - 2});
    w.surface(2, wall, points, {}, {0, 0, 1}, 3, 5);
    return w;
}

} // namespace

class TestConvert : public QObject {
    Q_OBJECT

private slots:
    void rebuildsEachCase_data()
    {
        QTest::addColumn<QByteArray>("bsp");
        // brushes, detail ones, patches, corners no matrix can fit along with the rest
        QTest::addColumn<QList<int>>("counts");
        const auto row = [](const char *tag, const BspWriter &w, int brushes, int patches,
                            int excused = 0, int detail = 0) {
            QTest::newRow(tag) << w.bytes() << QList<int>{brushes, detail, patches, excused};
        };
        BspWriter w = room();
        const int wall = w.shader("textures/base/wall");
        const BspWriter base = w;
        row("turned origin model with a patch", roomWithDoor(), 2, 1);

        // Odd but valid: a plane repeated in a brush, a model without brushes, a value
        // that is not UTF-8; as version 47.
        BspWriter::Sides sides = w.box({0, 0, 0}, {32, 32, 32}, wall);
        sides.insert(sides.end(), {sides[0], {w.plane({0, 0, 1}, 32), wall}});
        w.brush(sides, wall);
        w.entities += "{\n\"classname\" \"func_group\"\n\"model\" \"*1\"\n}\n{\n\"classname\" "
                      "\"target_print\"\n\"message\" \"ol\xe1 \xff\xfe {mundo} // \xc3(\"\n}\n";
        w.model();
        w.version = 47;
        row("odd brushes and entities, version 47", w, 2, 0);

        // Edited after compiling: the text ends with the lump, and a value spans lines.
        w = base;
        w.entityNul = false;
        w.entities = "{\r\n\"classname\" \"worldspawn\"\r\n\"message\" \"duas\r\nlinhas\"\r\n}";
        row("entities without NUL, in CRLF lines", w, 1, 0);

        // Detail by its shader, or as the tree tells: in a leaf with a cluster, an opaque
        // brush stood in open space. Clip and glass are listed there either way; a brush
        // model has no tree.
        w = base;
        const int detail = w.shader("textures/base/trim", 0x08000001),
                  clip = w.shader("textures/common/clip", 0x10000),
                  glass = w.shader("textures/base/glass", 0x20000001);
        w.brush(w.box({-8, -8, 0}, {8, 8, 96}, detail, 45), detail);
        w.leaf(-1, {0});
        w.leaf(3, {w.brush(w.box({-8, -8, 0}, {8, 8, 64}, wall), wall),
                   w.brush(w.box({16, -8, 0}, {32, 8, 64}, clip), clip),
                   w.brush(w.box({40, -8, 0}, {56, 8, 64}, glass), glass)});
        w.entities += "{\n\"classname\" \"func_door\"\n\"model\" \"*1\"\n}\n";
        w.model();
        w.leaf(3, {w.brush(w.box({64, -8, 0}, {72, 8, 64}, wall), wall)});
        row("detail brushes", w, 6, 0, 0, 2);

        // Every side the solid needs comes back, however thin its face: a wedge from
        // 0.0008 to 3 high, whose sharp end closes it 0.017 further without its side.
        w = base;
        const auto at = [&](const Vec &n, double d) {
            return std::pair{w.plane(n * (1 / length(n)), d / length(n)), wall};
        };
        w.brush({at({0, 0, -1}, 0), at({8e-4 - 3, 0, 64}, 0.0512), at({1, 0, 0}, 64),
                 at({-1, 0, 0}, 0), at({0, -1, 0}, 0), at({0, 1, 0}, 64), at({0, 0, 1}, 3)},
                wall);
        row("sharp wedge", w, 2, 0);
        // A solid thinner than 0.01, or open, has nothing to write (and nothing drawn).
        for (const double high : {0.005, 8.0}) {
            w = base;
            const int nodraw = w.shader("textures/common/nodraw", 1, 0x80);
            BspWriter::Sides solid = w.box({0, 0, 0}, {64, 64, high}, nodraw);
            solid.resize(high < 1 ? 6 : 5); // the box without its top
            w.brush(solid, nodraw);
            row(high < 1 ? "flat slab" : "open box", w, 1, 0);
        }

        // The floor's top drawn again as a 3x3 grid whose first vertex the compiler
        // moved after texturing: the face's matrix must fit every other corner and
        // give up that vertex's two.
        w = base;
        Floats points;
        for (int k = 0; k < 9; ++k) {
            const Vec p{-128.0 + 128 * (k % 3), -128.0 + 128 * (k / 3), 0};
            points.insert(points.end(), {float(p[0]), float(p[1]), 0.f,
                                         float(w.st(p, 0) + (k ? 0 : 0.05)), float(w.st(p, 1))});
        }
        // Clockwise seen from above, each square split along its rising diagonal.
        w.surface(1, 0, points,
                  {0, 4, 1, 0, 3, 4, 1, 5, 2, 1, 4, 5, 3, 7, 4, 3, 6, 7, 4, 8, 5, 4, 7, 8},
                  {0, 0, 1}); // room()'s floor shader
        row("grid with a stray corner", w, 1, 0, 2);
    }

    void rebuildsEachCase()
    {
        QFETCH(QByteArray, bsp);
        QFETCH(QList<int>, counts);
        seed(bsp);
        const Folder dir;
        QVERIFY(writeFile(dir.path + "/caso.bsp", bsp));
        const check::Fidelity f =
            convertAndCheck(bsp, dir.path + "/caso.bsp", dir.path, "caso.map");
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        // No temporary file left.
        QCOMPARE(names(dir.path), QByteArrayList({"caso.bsp", "caso.map"}));
        QCOMPARE(QList<int>({f.brushesBsp, f.detailBsp, f.patchesBsp, f.cornersExcused}), counts);
        QCOMPARE(f.faces, f.sidesWithFaces);       // no bevel kept, no side the solid needs lost
        QCOMPARE(f.trianglesOnFaces, f.triangles); // every face's texture was checked
    }

    // A missing output folder fails; an empty one is the input's.
    void commandLine_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("written"); // empty when it must fail
        const auto row = [](const QByteArray &input, const QByteArray &output,
                            const QByteArray &written) {
            QTest::newRow(input.toPercentEncoding() + " > " + output) << input << output << written;
        };
        row("arena.bsp", "out", "arena.map");
        row("ARENA.BSP", "out", "ARENA.map");
        row("ar\xe9na\xff.bsp", "out", "ar\xe9na\xff.map");
        row("arena.bsp", "", "arena.map");
        row("arena.bsp", "falta", "");
    }

    void commandLine()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, written);
        const Folder dir;
        const QByteArray in = dir.path + "/in",
                         folder = output.isEmpty() ? in : dir.path + '/' + output;
        QVERIFY(writeFile(in + '/' + input, room().bytes()));
        std::filesystem::create_directory((dir.path + "/out").toStdString());
        const Run r =
            convert({"-bsp2map", in + '/' + input, "-output", output.isEmpty() ? "" : folder});
        QCOMPARE(r.exit, written.isEmpty() ? 1 : 0);
        QCOMPARE(names(dir.path), QByteArrayList({"in", "out"})); // never creates the folder
        QVERIFY2(written.isEmpty() ? r.err.contains(folder)
                                   : summary(r.out).value(0).toLatin1() == folder + '/' + written,
                 r.out + r.err);
        // Nothing but the map is written.
        QCOMPARE(names(in).size() + names(dir.path + "/out").size(), written.isEmpty() ? 1 : 2);
        QVERIFY(written.isEmpty() || check::readMap(readAll(folder + '/' + written)).ok());
    }

    // A misuse gets the usage text and status 2.
    void usage()
    {
        const Run r = convert({"-bsp2map", "a.bsp", "-output", "/tmp", "-format", "hl"});
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains("uso: bspc.exe -bsp2map"), r.err);
    }

    // No conversion loses a map that differs from the new one: each goes to a free
    // backup name. The same text again needs none.
    void keepsTheEditedMap()
    {
        const Folder dir;
        const QByteArray bsp = dir.path + "/a.bsp", map = dir.path + "/a.map";
        const auto again = [&](const QByteArray &edit) {
            if (!edit.isEmpty())
                writeFile(map, edit);
            return convert({"-bsp2map", bsp, "-output", dir.path});
        };
        QVERIFY(writeFile(bsp, room().bytes()));
        QVERIFY(again("// editado\n").out.contains("guardado como " + map + ".bak\n"));
        QVERIFY(!again({}).out.contains("guardado"));
        QCOMPARE(again("// outra\n").exit, 0);
        QCOMPARE(names(dir.path), QByteArrayList({"a.bsp", "a.map", "a.map.bak", "a.map.bak2"}));
        QCOMPARE(readAll(map + ".bak"), "// editado\n");
        QCOMPARE(readAll(map + ".bak2"), "// outra\n");
    }

    // An interrupt while a map is written leaves the folder as it was: no temporary file,
    // the map being replaced untouched; the run ends by the signal.
    void interrupted_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("named"); // as on a filesystem without unnamed files
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            for (const bool named : {false, true})
                QTest::addRow("%s%s", sigabbrev_np(signal), named ? " named" : "")
                    << signal << named;
    }

    void interrupted()
    {
        QFETCH(int, signal);
        QFETCH(bool, named);
        const Folder dir;
        const QByteArray pak = "/usr/share/games/openarena/baseoa/pak1-maps.pk3",
                         out = dir.path + "/out", log = dir.path + "/log";
        for (const QByteArray &entry : check::unzip(pak, "").split('\n')) // each map edited
            QVERIFY(writeFile(out + '/' + QFileInfo(entry).baseName().toUtf8() + ".map", "edit"));
        const pid_t pid = start({"-bsp2map", pak, "-output", out}, log, "/dev/null", named);
        QVERIFY(pid > 0);
        const auto end = qScopeGuard([pid] { kill(pid, SIGKILL), waitpid(pid, nullptr, 0); });
        const auto writing = [&] { // has its temporary file open, named or not
            const QDir open(QString("/proc/%1/fd").arg(pid));
            return std::ranges::any_of(
                open.entryInfoList(QDir::AllEntries | QDir::System),
                [&](const QFileInfo &fd) { return fd.symLinkTarget().startsWith(out + '/'); });
        };
        QByteArray progress; // up to where it was stopped, before that map was committed
        QByteArrayList before;
        int status = 0;
        while (progress.isEmpty() && waitpid(pid, &status, WNOHANG) == 0)
            if (writing() && kill(pid, SIGSTOP) == 0 && waitpid(pid, &status, WUNTRACED) == pid) {
                progress = readAll(log), before = names(out);
                if (!writing() || progress.trimmed().split('\n').last().startsWith("escrevendo"))
                    progress.clear(), kill(pid, SIGCONT);
            }
        QVERIFY2(!progress.isEmpty(), "the run ended before it was caught writing a map");
        QCOMPARE(before.removeIf([](const QByteArray &n) { return n.startsWith(".bspc"); }),
                 qsizetype(named));
        kill(pid, signal), kill(pid, SIGCONT);
        QVERIFY(waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) &&
                WTERMSIG(status) == signal);
        QCOMPARE(names(out), before);
        const QByteArray map = progress.mid(progress.lastIndexOf("lendo ")).split('\n')[0];
        QCOMPARE(readAll(out + '/' + QFileInfo(map).baseName().toUtf8() + ".map"), "edit");
    }

    // Only maps/*.bsp of a package are maps; one whose stored bytes no longer match
    // their CRC-32 fails, alone.
    void packages()
    {
        const Folder dir;
        const QByteArray pk3 = dir.path + "/pak.pk3", a = room().bytes(),
                         b = roomWithDoor().bytes(), out = dir.path + "/danificado";
        QVERIFY(check::writeZip(pk3, {{"maps/a.bsp", a},
                                      {"maps/b.bsp", b},
                                      {"maps/notas.txt", "x"},
                                      {"levelshots/c.bsp", a}}));
        // One map of it; then the whole, which a trailing slash still names.
        QVERIFY(convertAndCheck(a, pk3 + "/maps/a.bsp", dir.path, "a.map").problems.isEmpty());
        const check::Fidelity f = convertAndCheck(b, pk3 + "//", dir.path, "b.map"); // the last one
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join('\n')));
        QCOMPARE(names(dir.path), QByteArrayList({"a.map", "b.map", "pak.pk3"}));
        // The second byte of b's first plane distance: the map would still read, a little off.
        QByteArray zip = readAll(pk3);
        zip[zip.indexOf(b) + *reinterpret_cast<const qint32 *>(b.constData() + 24) + 13] ^= 1;
        QVERIFY(writeFile(pk3, zip) && std::filesystem::create_directory(out.toStdString()));
        const Run r = convert({"-bsp2map", pk3, "-output", out});
        QVERIFY2(r.exit == 1 && r.err.contains("pk3 danificado: maps/b.bsp (os dados não"), r.err);
        QCOMPARE(names(out), QByteArrayList{"a.map"});
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("says");
        const QByteArray base = roomWithDoor().bytes(), zeros(4096, '\0');
        const auto with = [](QByteArray b, qint64 at, auto value) {
            return std::memcpy(b.data() + at, &value, sizeof value), b;
        };
        const auto header = [](int lump, int field) { return 8 + 8 * lump + 4 * field; };
        const auto lump = [&](const QByteArray &b, int l, int field = 0) { // Quake's lacks "IBSP"
            const qint64 at = header(l, field) - 4 * !b.startsWith("IBSP");
            return *reinterpret_cast<const qint32 *>(b.constData() + at);
        };
        const auto in = [&](const QByteArray &b, int l, qint64 at, auto value) {
            return with(b, lump(b, l) + at, value);
        };
        const auto row = [](const char *tag, const QByteArray &b, const QByteArray &says) {
            QTest::newRow(tag) << b << says;
        };
        const qint64 patch = lump(base, 13, 1) - 104; // the last surface
        row("file cut short", base.chopped(8),
            "o arquivo termina antes do fim (truncado): tem " +
                QByteArray::number(base.size() - 8));
        row("lump past the end", with(base, header(13, 0), qint32(base.size() + 8)),
            "bytes, e o cabeçalho indica " +
                QByteArray::number(base.size() + 8 + lump(base, 13, 1)));
        row("offset and length overflow",
            with(with(base, header(10, 0), INT32_MAX), header(10, 1), INT32_MAX), "além de 2 GiB");
        row("planes not whole records", with(base, header(2, 1), qint32(lump(base, 2, 1) - 4)),
            "não é múltiplo de 16");
        row("side plane out of range", in(base, 9, 0, qint32(1 << 20)), "plano 1048576 fora");
        row("brush sides past the end", in(base, 8, 4, INT32_MAX), "brush 0: lados fora");
        row("surface vertices past the end", in(base, 13, 16, qint32(1 << 30)), "vértices fora");
        row("patch larger than its vertices", in(base, 13, patch + 96, qint32(40)),
            "tamanho 40x5 inválido");
        row("plane distance NaN", in(base, 2, 12, NAN), "plano 0 inválido");
        row("vertex infinite", in(base, 10, 0, -INFINITY), "vértice 0 com número não finito");
        row("entity not closed", roomWithDoor("{\n\"classname\" \"worldspawn\"\n").bytes(),
            "'{' sem '}'");
        row("unclosed quote", roomWithDoor("{\n\"classname\" \"worldspawn }\n").bytes(),
            "aspas sem fechamento");
        // Found only once much of the text has gone to the temporary file.
        BspWriter late = room();
        for (int k = 0; k < 400; ++k)
            late.brush(late.box({16.0 * k, 0, 0}, {16.0 * k + 8, 8, 8}, 0), 0);
        late.entities =
            world + "{\n\"classname\" \"func_door\"\n\"model\" \"*1\"\n\"origin\" \"1 x 2\"\n}\n";
        late.model();
        row("origin unreadable late", late.bytes(), "entidade 1: \"origin\" inválida");
        row("header cut short", base.left(100), "termina antes do fim do cabeçalho");
        row("directory", {}, "é uma pasta, não um arquivo"); // made for null bytes
        row("4 GB sparse file", base, "arquivo grande demais (4096 MiB; o máximo é 2047 MiB)");
        // Quake trees that lead nowhere, loop, or go too deep; a leaf no game fills so.
        const auto q1 = [](const QByteArray &boxes) {
            return Q1BspWriter(check::readMap("{\n" + boxes + "}\n").value).bytes();
        };
        const QByteArray q1cube = q1(Q2BspWriter::box({}, {8, 8, 8}, "a 0 0 0 1 1"));
        row("Quake tree cycle", in(q1cube, 5, 4, qint16(0)), "(ciclo)");
        row("Quake leaf, HL contents", in(q1cube, 10, 28, qint32(-7)), "conteúdo desconhecido");
        QByteArray slabs;
        for (int k = 0; k < 1030; ++k)
            slabs += Q2BspWriter::box({2.0 * k, 0, 0}, {2.0 * k + 1, 8, 8}, "a 0 0 0 1 1");
        row("Quake tree deeper than 1024", q1(slabs), "profunda demais");
        row("Quake 2 QBSP 38", with("QBSP" + zeros, 4, qint32(38)), "Quake 2 remasterizado");
        const QByteArray rbsp = with(with("RBSP" + zeros, 4, 1), header(0, 1), 8);
        row("SiN RBSP 1", with(rbsp, header(0, 0), 168), "não suportado: BSP do SiN (RBSP 1)");
        row("Jedi Knight RBSP 1", with(rbsp, header(0, 0), 152), "BSP do Jedi Knight (RBSP 1)");
        const QByteArray cube = Q2BspWriter::box({}, {8, 8, 8}, "a 0 0 0 1 1 1 0 0"),
                         q2 = Q2BspWriter(check::readMap("{\n" + cube + "}\n").value).bytes();
        row("Quake 2 tree cycle", in(q2, 4, 4, qint32(0)), "passa duas vezes pelo nó 0 (ciclo)");
        row("Quake 2 leaf brush out of range", in(q2, 10, 0, quint16(9)), "brush 9 fora");
        row("IBSP 45", with(base, 4, qint32(45)), "formato não suportado: IBSP versão 45");
        // A package of that map, its headers changed as another tool might have.
        const Folder packed;
        check::writeZip(packed.path + "/z.pk3", {{"maps/a.bsp", base}});
        const QByteArray zip = readAll(packed.path + "/z.pk3");
        const qint64 central = zip.lastIndexOf("PK\1\2"), end = zip.lastIndexOf("PK\5\6");
        row("pk3 encrypted", with(with(zip, 6, '\1'), central + 8, '\1'),
            "cifrada e pede uma senha");
        row("pk3 compressed by 6", with(with(zip, 8, '\6'), central + 10, '\6'),
            "de compressão não");
        row("pk3 inconsistent", with(zip, end + 16, qint32(central + 7)), "danificado (o índice");
        row("pk3 cut short", zip.left(central), "não é um arquivo pk3 (zip) válido, ou está");
        BspWriter tree = room();
        tree.leaf(2, {0});
        const QByteArray leaf = tree.bytes();
        row("leaf brushes past the end", in(leaf, 4, 40, qint32(1 << 20)), "brushes fora");
        row("leaf brush out of range", in(leaf, 4, 48, qint32(7)), "brush 7 fora"); // list follows
        tree.leaf(2, std::vector<int>(2000, 0), 3000);
        row("leaves share one brush list", tree.bytes(), "repetem brushes além do razoável");
    }

    void hostileFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, says);
        const Folder dir;
        const QByteArray file = dir.path + (bytes.startsWith("PK") ? "/hostil.pk3" : "/hostil.bsp");
        seed(bytes);
        QVERIFY(bytes.isNull() ? std::filesystem::create_directory(file.toStdString())
                               : writeFile(file, bytes));
        if (QByteArray(QTest::currentDataTag()).startsWith("4 GB"))
            std::filesystem::resize_file(file.toStdString(), 4ull << 30);
        const Run r = convert({"-bsp2map", file, "-output", dir.path});
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains(file) && r.err.contains(says), r.err);
        QCOMPARE(names(dir.path), QByteArrayList{file.mid(dir.path.size() + 1)});
    }
};

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
