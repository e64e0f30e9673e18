#pragma once

#include <QUrl>

// The program's start-up, main loop and tear-down; returns the event loop's
// result (-1 when the scene's root object is not created).
int veltranoMain(int argc, char** argv, const QUrl& scene);

// The scene the program loads.
inline const char* const kMainSceneUrl = "qrc:/src/ui/main.qml";

// Application version.
inline const char* const kVeltranoVersion = "v25.07.0.478";
