#include "cAccessibleButton.h"

#include <QQmlComponent>
#include <QQmlEngine>
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

void cAccessibleButton::install(QQmlEngine &engine)
{
    // The factory installed last is asked first. Qt Quick installs its own when the QtQuick
    // module is first imported, so that import comes first; the buttons do not exist yet, so
    // none can have an interface made by the other factory.
    QQmlComponent imports(&engine);
    imports.setData("import QtQuick 2.12\nQtObject {}\n", QUrl());
    QAccessible::installFactory(&cInterface::factory);
}
