#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QStringList>
#include <QVariant>

class QQmlEngine;
class QJSEngine;
class QWindow;

// What the scene needs of the platform beyond QML: every key sequence of a
// standard key, and a window's place on its screen with its frame.
class PlatformHelper : public QObject
{
    Q_OBJECT

public:
    explicit PlatformHelper(QObject* parent = nullptr);

    // Registers the singleton "PlatformHelper" in module "PlatformHelper" 1.0.
    static void registerQmlType();

    // The portable texts of every sequence a shortcut stands for, the
    // platform's preferred one first: all bindings of a standard key
    // (QKeySequence::StandardKey), else the shortcut's own text.
    Q_INVOKABLE QStringList keySequences(const QVariant& shortcut) const;

    // Moves and shrinks `window` so that it lies on its screen's available
    // area with its frame inside on every side; once more when it is first
    // exposed, when the window manager has told its frame.
    Q_INVOKABLE void placeOnScreen(QWindow* window);

    // The same for a stated frame; a window larger than the area keeps its
    // top left corner inside.
    static QRect placedGeometry(const QRect& geometry, const QMargins& frame, const QRect& area,
                                const QSize& minimum);
};
