// An independent reader of Quake and Half-Life BSPs (29, 30, BSP2, 2PSB) and a judge of
// the .map made from one: the solid space of each brush model's tree sampled against the
// written brushes, and each face looked for on a written side.
#pragma once

#include "mapcheck.h"

namespace check {

struct Q1Bsp {
    bool halfLife = false;
    QList<Keys> entities;
    std::vector<Bsp::Plane> planes;
    std::vector<std::array<int, 3>> nodes; // plane, front, back (a leaf is -1 - its index)
    std::vector<int> contents;             // each leaf's
    struct Face {
        Bsp::Plane plane; // facing as the face
        Winding points;
        QByteArray texture;
        double vecs[2][4];
    };
    std::vector<Face> faces;
    struct Model {
        Vec mins, maxs;
        int head, firstFace, faces;
    };
    std::vector<Model> models;
};

Q1Bsp readQ1(const QByteArray &bytes); // a well-formed one

// What fills a brush by its texture: -1 nothing, -2 solid, -3 water, -4 slime, -5 lava,
// -6 sky, as in a leaf; Half-Life's liquids' names start with ! where Quake's start with *.
int contentsOf(QByteArray texture);

struct Q1Fidelity {
    // Samples clear of every plane, faces, brushes written (origin brushes aside); what
    // disagrees: contents at a sample, a face on no side with its texture and axes.
    int samples = 0, faces = 0, brushes = 0;
    QStringList problems;
};

// The map against the BSP, entity by entity in the order of both.
Q1Fidelity compareQ1(const Q1Bsp &bsp, const Map &map);
// Samples inside the source's brushes, and of them those inside the map's; origin brushes aside.
std::pair<int, int> coversQ1(const Map &map, const Map &source);

} // namespace check
