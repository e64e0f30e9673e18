#include "platformhelper.h"

#include <QEvent>
#include <QKeySequence>
#include <QPointer>
#include <QQmlEngine>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

void applyPlacement(QWindow* window)
{
    QScreen* screen = window->screen();
    if (!screen)
        return;
    const QRect placed = PlatformHelper::placedGeometry(window->geometry(), window->frameMargins(),
                                                        screen->availableGeometry(), window->minimumSize());
    if (placed.size() != window->size())
        window->resize(placed.size());
    if (placed.topLeft() != window->position())
        window->setPosition(placed.topLeft());
}

// Places a window once more at its first exposure after being shown: a
// window manager reports the frame only once it has framed the window.
class ExposePlacer : public QObject
{
public:
    explicit ExposePlacer(QWindow* window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = qobject_cast<QWindow*>(watched);
        if (window && event->type() == QEvent::Expose && window->isExposed()) {
            window->removeEventFilter(this);
            applyPlacement(window);
            deleteLater();
        }
        return false;
    }
};

} // namespace

PlatformHelper::PlatformHelper(QObject* parent)
    : QObject(parent)
{
}

void PlatformHelper::registerQmlType()
{
    qmlRegisterSingletonType<PlatformHelper>("PlatformHelper", 1, 0, "PlatformHelper",
                                             [](QQmlEngine*, QJSEngine*) -> QObject* { return new PlatformHelper; });
}

QStringList PlatformHelper::keySequences(const QVariant& shortcut) const
{
    QStringList texts;
    if (shortcut.metaType().id() == QMetaType::Int) {
        const auto bindings = QKeySequence::keyBindings(static_cast<QKeySequence::StandardKey>(shortcut.toInt()));
        for (const QKeySequence& sequence : bindings)
            texts.append(sequence.toString(QKeySequence::PortableText));
    } else if (shortcut.canConvert<QKeySequence>()) {
        const QString text = shortcut.value<QKeySequence>().toString(QKeySequence::PortableText);
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts;
}

void PlatformHelper::placeOnScreen(QWindow* window)
{
    if (!window)
        return;
    applyPlacement(window);
    if (!window->isExposed() && !window->findChild<QObject*>(QStringLiteral("exposePlacer"), Qt::FindDirectChildrenOnly)) {
        auto* placer = new ExposePlacer(window);
        placer->setObjectName(QStringLiteral("exposePlacer"));
    }
}

QRect PlatformHelper::placedGeometry(const QRect& geometry, const QMargins& frame, const QRect& area,
                                     const QSize& minimum)
{
    // The room the window's own area has inside the frame.
    const int roomWidth = area.width() - frame.left() - frame.right();
    const int roomHeight = area.height() - frame.top() - frame.bottom();
    // The screen wins over the window's minimum: a window never reaches
    // beyond the screen, whatever it asks for.
    const int width = std::max(std::min(std::max(geometry.width(), minimum.width()), roomWidth), 1);
    const int height = std::max(std::min(std::max(geometry.height(), minimum.height()), roomHeight), 1);
    const int left = area.left() + frame.left();
    const int top = area.top() + frame.top();
    const int right = area.left() + area.width() - frame.right() - width;
    const int bottom = area.top() + area.height() - frame.bottom() - height;
    // Right and bottom first, so that a window larger than the room keeps
    // its title bar on the screen.
    const int x = std::max(left, std::min(geometry.x(), right));
    const int y = std::max(top, std::min(geometry.y(), bottom));
    return QRect(x, y, width, height);
}
