import QtQuick 2.12
import QtQuick.Window 2.12

// Offered when the Orvik is there but the updater cannot open it, for a reason the release can
// set right: on Windows the bootloader's driver, on Linux the udev rules. After the button it
// says how that went.
Window {
    id: question

    title: _Access.title
    flags: Qt.Dialog
    modality: Qt.ApplicationModal
    width: 420
    // Grows with a long outcome, such as the commands to run by hand.
    height: Math.max(170, questionText.paintedHeight + 110)
    minimumWidth: width
    minimumHeight: height
    color: "#1a1a1a"
    visible: true
    // Closing the question answers "Not now".
    onClosing: _Access.dismiss()

    Item {
        anchors.fill: parent
        anchors.margins: 20
        Keys.onEscapePressed: _Access.dismiss()
        Accessible.role: Accessible.AlertMessage
        Accessible.name: questionText.text

        Text {
            id: questionText
            objectName: "accessQuestionText"
            width: parent.width
            text: _Access.text
            wrapMode: Text.Wrap
            font.bold: true
            font.pixelSize: 14
            font.family: "Arial"
            color: "white"
            horizontalAlignment: Text.AlignHCenter
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Row {
            anchors.bottom: parent.bottom
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 20

            OrvikButton {
                objectName: "setUpAccess"
                width: 140
                text: _Access.action
                description: _Access.actionDescription
                visible: !_Access.done
                enabled: !_Access.working
                focus: !_Access.done
                onClicked: _Access.setUp()
            }
            OrvikButton {
                objectName: "notNow"
                width: 140
                text: _Access.done ? "Close" : "Not now"
                description: "Close this question; it can be answered later"
                focus: _Access.done
                onClicked: _Access.dismiss()
            }
        }
    }
}
