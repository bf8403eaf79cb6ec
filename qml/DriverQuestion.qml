import QtQuick 2.12
import QtQuick.Window 2.12

// Offered on Windows when the Orvik waits in its bootloader but has no driver that the flashing
// tool can use: the updater installs the driver it ships. After "Install driver" it says how
// that went.
Window {
    id: question

    title: "Orvik Updater: driver"
    flags: Qt.Dialog
    modality: Qt.ApplicationModal
    width: 420
    height: 170
    minimumWidth: width
    minimumHeight: height
    color: "#1a1a1a"
    visible: true
    // Closing the question answers "Not now".
    onClosing: _Driver.dismiss()

    Item {
        anchors.fill: parent
        anchors.margins: 20
        Keys.onEscapePressed: _Driver.dismiss()
        Accessible.role: Accessible.AlertMessage
        Accessible.name: questionText.text

        Text {
            id: questionText
            objectName: "driverQuestionText"
            width: parent.width
            text: _Driver.text
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
                objectName: "installDriver"
                width: 140
                text: "Install driver"
                description: "Install the driver for the Orvik's bootloader; Windows asks for permission"
                visible: !_Driver.installed
                enabled: !_Driver.installing
                focus: !_Driver.installed
                onClicked: _Driver.install()
            }
            OrvikButton {
                objectName: "notNow"
                width: 140
                text: _Driver.installed ? "Close" : "Not now"
                description: "Close this question; the driver can be installed later"
                focus: _Driver.installed
                onClicked: _Driver.dismiss()
            }
        }
    }
}
