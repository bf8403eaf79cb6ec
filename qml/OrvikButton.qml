import QtQuick 2.12

// The window's push button: white, grey while disabled. It takes the keyboard focus,
// shows it with a ring drawn inside its edge, and presses on Space, Return and Enter. What
// screen readers learn of it, including a press and whether it is disabled, is answered by
// app/cAccessibleButton.cpp from its text, description, enabled and clicked.
Rectangle {
    id: button

    property alias text: label.text
    property string description
    signal clicked

    width: 100
    height: 50
    radius: 5
    color: enabled ? "white" : "grey"
    activeFocusOnTab: true

    // Makes Qt Quick list the button among the window's accessible items.
    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.description: description

    Keys.onPressed: function (event) {
        if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            event.accepted = true
            if (!event.isAutoRepeat)
                button.clicked()
        }
    }

    Text {
        id: label
        objectName: button.objectName + "Label"
        anchors.centerIn: parent
        font.bold: true
        font.pointSize: 12
        font.family: "Arial"
        color: "black"
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        Accessible.ignored: true
    }

    MouseArea {
        objectName: button.objectName + "Area"
        anchors.fill: parent
        onClicked: button.clicked()
    }

    // Dark enough to stand out on the white and on the grey face alike; concentric with the
    // button's corners, so that it leaves the face inside it untouched.
    Rectangle {
        objectName: button.objectName + "FocusRing"
        anchors.fill: parent
        anchors.margins: 2
        radius: button.radius - anchors.margins
        color: "transparent"
        border.width: 3
        border.color: "#002a80"
        visible: button.activeFocus
    }
}
