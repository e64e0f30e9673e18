#pragma once

#include "macropixel.h"

#include <QList>
#include <QMetaType>
#include <QString>

// One receiver tile.
struct Tile
{
    uint number = 0;    // 1-based position in the display's tile list; 0 = not yet numbered
    QString name;       // the receiver's MAC text
    float x = 0;
    float y = 0;
    float height = 0;
    float width = 0;
    bool selected = true;
    bool adjustable = true;
    bool lit = true;
    int ldmsWide = 0;   // LDM columns
    int ldmsHigh = 0;   // LDM rows
    // Correction-mesh cells, row by row. Only the copies that a template run
    // builds fill it; the display's own tiles keep it empty. Owns nothing.
    QList<Macropixel*> macropixels;
    bool changed = false; // set and counted by the correction engine while it sends meshes
};

Q_DECLARE_METATYPE(Tile)
