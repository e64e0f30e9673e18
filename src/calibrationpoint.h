#pragma once

#include <QMetaType>

// One measured point of a linearity correction: the gains at which a grey
// level reached its target, what the meter read there and the display-wide
// gains in force. The field names are also the column names of the correction
// file. In the camera modes the three measured slots carry the observed red
// (cct), green (duv) and blue (luminance).
struct CalibrationPoint
{
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    quint32 count = 1;       // measurements the point stands for
    quint32 seconds = 0;     // from the start of the run to the capture
    quint32 iterations = 0;  // adjustment iterations used for it
    double cct = 0.0;        // measured CCT plus the CCT adjustment
    double duv = 0.0;        // measured Duv plus the Duv adjustment
    double luminance = 0.0;  // measured luminance times the luminance scale
    double luminanceTarget = 0.0;
    double deltas[3] = {0.0, 0.0, 0.0}; // red, green, blue gain changes of the last step
    double redDisplayGain = 1.0;
    double greenDisplayGain = 1.0;
    double blueDisplayGain = 1.0;
    // Curve handles, computed afterwards from the whole list.
    double redPx = 0.0, redPy = 0.0, redMx = 0.0, redMy = 0.0, redSlope = 0.0;
    double greenPx = 0.0, greenPy = 0.0, greenMx = 0.0, greenMy = 0.0, greenSlope = 0.0;
    double bluePx = 0.0, bluePy = 0.0, blueMx = 0.0, blueMy = 0.0, blueSlope = 0.0;

    // The point's error: the magnitudes of its three deltas summed.
    double error() const;
};

Q_DECLARE_METATYPE(CalibrationPoint)
