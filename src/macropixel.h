#pragma once

#include <QMetaType>
#include <QString>

// One LDM (controllable module region of a receiver tile) as the display model
// holds it. Gains are offsets from neutral: 0.0 leaves a primary unchanged; an
// intensity gain of -1.0 switches the LDM off (anything not above -0.9 counts
// as off).
struct Macropixel
{
    uint number = 0;    // 1-based position in the display's LDM list; 0 = not yet numbered
    QString name;       // MAC text of the receiver that drives it
    float x = 0;        // left edge, display pixels
    float y = 0;        // top edge
    float height = 0;
    float width = 0;
    bool selected = true;
    bool adjustable = true;
    bool lit = true;
    int index = 0;      // number within its tile (the processor's key for it)
    uint tile = 0;      // number of the tile that holds it
    double redGain = 0.0;
    double greenGain = 0.0;
    double blueGain = 0.0;
    double intensityGain = 0.0;
    double redObserved = 0.0;
    double greenObserved = 0.0;
    double blueObserved = 0.0;
};

Q_DECLARE_METATYPE(Macropixel)
