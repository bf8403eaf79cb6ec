#include "cAccessibleButton.h"

#include <QQuickItem>
#include <QtQuick/private/qaccessiblequickitem_p.h>

// Qt Quick's own interface for an item, which also says when the item is disabled.
class cAccessibleButton::cInterface : public QAccessibleQuickItem
{
public:
    using QAccessibleQuickItem::QAccessibleQuickItem;

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleQuickItem::state();
        if (!item()->isEnabled()) {
            state.disabled = true;
            state.focusable = false;
        }
        return state;
    }

    static QAccessibleInterface *factory(const QString &className, QObject *object)
    {
        // The class of a QML component is named after its file.
        if (!className.startsWith(QLatin1String("OrvikButton_QMLTYPE_")))
            return nullptr;
        auto *item = qobject_cast<QQuickItem *>(object);
        return item ? new cInterface(item) : nullptr;
    }
};

void cAccessibleButton::install()
{
    // Qt asks every factory about an object's own class before its base classes, and Qt
    // Quick's own answers only for its base classes (QQuickItem): this one is asked first
    // whenever it was installed, before any button exists.
    QAccessible::installFactory(&cInterface::factory);
}
