#include "cAccessibleButton.h"

#include <QAccessibleObject>
#include <QQuickItem>
#include <QQuickWindow>

// The button as a screen reader reads it, from the button's own properties. A button is read
// as one thing, its label being its name, so it has no children.
class cAccessibleButton::cInterface : public QAccessibleObject, public QAccessibleActionInterface
{
public:
    explicit cInterface(QQuickItem *item) : QAccessibleObject(item) {}

    QWindow *window() const override { return item()->window(); }

    QAccessibleInterface *parent() const override
    {
        // The nearest item that Qt Quick shows a screen reader, else the window itself.
        QQuickWindow *shownIn = item()->window();
        const QQuickItem *top = shownIn ? shownIn->contentItem() : nullptr;
        for (QQuickItem *up = item()->parentItem(); up && up != top; up = up->parentItem()) {
            if (QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(up))
                return shown;
        }
        return shownIn ? QAccessible::queryAccessibleInterface(shownIn) : nullptr;
    }

    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QAccessible::Role role() const override { return QAccessible::Button; }

    QString text(QAccessible::Text text) const override
    {
        if (text == QAccessible::Name)
            return item()->property("text").toString();
        if (text == QAccessible::Description)
            return item()->property("description").toString();
        return QString();
    }

    QRect rect() const override
    {
        return QRect(item()->mapToGlobal(QPointF(0, 0)).toPoint(),
                     QSizeF(item()->width(), item()->height()).toSize());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QQuickWindow *shownIn = item()->window();
        state.invisible = !shownIn || !shownIn->isVisible() || !item()->isVisible() ||
                          qFuzzyIsNull(item()->opacity());
        // Above all, a grey button must not be read as one that can be pressed.
        state.disabled = !item()->isEnabled();
        state.focusable = item()->isEnabled() && item()->activeFocusOnTab();
        state.focused = item()->hasActiveFocus();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return QAccessibleObject::interface_cast(type);
    }

    QStringList actionNames() const override
    {
        if (state().focusable)
            return {pressAction(), setFocusAction()};
        return {pressAction()};
    }

    void doAction(const QString &action) override
    {
        if (!item()->isEnabled())
            return;
        if (action == pressAction())
            QMetaObject::invokeMethod(item(), "clicked");
        else if (action == setFocusAction())
            item()->forceActiveFocus();
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    static QAccessibleInterface *factory(const QString &className, QObject *object)
    {
        // The class of a QML component is named after its file.
        if (!className.startsWith(QLatin1String("OrvikButton_QMLTYPE_")))
            return nullptr;
        auto *button = qobject_cast<QQuickItem *>(object);
        return button ? new cInterface(button) : nullptr;
    }

private:
    QQuickItem *item() const { return static_cast<QQuickItem *>(object()); }
};

void cAccessibleButton::install()
{
    // Qt asks every factory about an object's own class before its base classes, and Qt
    // Quick's own answers only for its base classes (QQuickItem): this one is asked first
    // whenever it was installed, before any button exists.
    QAccessible::installFactory(&cInterface::factory);
}
