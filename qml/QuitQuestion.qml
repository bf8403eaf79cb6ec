import QtQuick 2.12
import QtQuick.Window 2.12

// Asked when the window is closed while the Orvik is being updated: quitting then could
// leave it without a program that starts.
Window {
    id: question

    signal keepUpdating
    signal quitAnyway

    title: "Orvik Updater"
    flags: Qt.Dialog
    modality: Qt.ApplicationModal
    width: 420
    height: 150
    minimumWidth: width
    minimumHeight: height
    color: "#1a1a1a"
    visible: true
    // Closing the question itself is no answer to quit.
    onClosing: question.keepUpdating()

    Item {
        anchors.fill: parent
        anchors.margins: 20
        Keys.onEscapePressed: question.keepUpdating()
        Accessible.role: Accessible.AlertMessage
        Accessible.name: questionText.text

        Text {
            id: questionText
            objectName: "quitQuestionText"
            width: parent.width
            text: "The Orvik is being updated. If the updater quits now, the Orvik may not start until it is updated again."
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
                objectName: "keepUpdating"
                width: 140
                text: "Keep updating"
                description: "Go on with the update and keep the updater open"
                focus: true
                onClicked: question.keepUpdating()
            }
            OrvikButton {
                objectName: "quitAnyway"
                width: 140
                text: "Quit anyway"
                description: "Quit the updater although the update is still running"
                // Hidden first: while it is shown, it blocks the close of the window.
                onClicked: {
                    question.visible = false
                    question.quitAnyway()
                }
            }
        }
    }
}
