import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    id: root
    visible: true
    width: 420
    height: 240
    flags: Qt.Dialog
    title: qsTr("Orvik Firmware Updater")

    // What the window shows of the controller. At shutdown the controller goes before the
    // window, and these keep the last evaluation of the bindings from reading a null object.
    readonly property int updateStatus: _App ? _App.status : 0
    readonly property string firmwareFile: _App ? _App.selectedFirmwareFile : ""
    readonly property string statusText: _App ? _App.statusInfo : ""
    // Whether an Orvik is there, until the first attempt has a text of its own.
    readonly property string presenceText: _Presence ? _Presence.text : ""
    readonly property bool updating: updateStatus == 1
    // Once the image is written and the attempt only waits for the Orvik to restart, nothing
    // is written any more.
    readonly property bool writing: updating && !(_App && _App.restarting)

    // While the Orvik is being updated, a close asks first: quitting could leave the
    // device without a program that starts.
    property bool askingToQuit: false
    property bool quitConfirmed: false
    onClosing: function (close) {
        if (writing && !quitConfirmed) {
            close.accepted = false
            askingToQuit = true
        }
    }
    // The run has ended: nothing left to ask about.
    onWritingChanged: if (!writing) askingToQuit = false

    function chooseFile() {
        fileDialog.active = true
        fileDialog.item.open()
    }

    Shortcut {
        sequence: StandardKey.Open
        enabled: open.enabled
        onActivated: root.chooseFile()
    }

    Rectangle {
        id: rectMain
        anchors.fill: parent
        color: "#1a1a1a"

        Column {
            id: mainCol
            anchors.fill: parent
            anchors.margins: 20
            spacing: 10

            Rectangle {
                id: rectMessage
                width: parent.width
                height: 60
                color: "#2a2a2a"
                radius: 5
                // Shows that a file held over the window will be taken.
                border.width: dropArea.containsDrag ? 2 : 0
                border.color: "white"

                Text {
                    id: message
                    objectName: "message"
                    width: parent.width
                    height: 42
                    anchors.centerIn: parent
                    font.bold: true
                    font.pixelSize: 14
                    font.family: "Arial"
                    color: "white"
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    text: root.firmwareFile == "" ? "Please select firmware file (*.bin)"
                        : root.updateStatus == 0 ? "Firmware file selected:\n[ " + root.firmwareFile + " ]"
                        : root.updateStatus == 1 ? "Firmware Update in progress...\n[ " + root.firmwareFile + " ]"
                        : root.updateStatus == 2 ? "Firmware Update SUCCESS\n[ " + root.firmwareFile + " ]"
                        : root.updateStatus == 3 ? "Firmware Update FAILED\n[ " + root.firmwareFile + " ]"
                        : ""
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }

            OrvikButton {
                id: open
                objectName: "open"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Select File"
                description: "Choose the firmware image to write into the Orvik"
                enabled: !root.updating
                focus: true
                onClicked: root.chooseFile()
            }

            OrvikButton {
                id: update
                objectName: "update"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Update"
                description: "Write the selected firmware image into the Orvik"
                enabled: !root.updating && root.firmwareFile != ""
                // From here on the attempt speaks for the device.
                onClicked: {
                    _Presence.stop()
                    _App.startUpdate()
                }
            }
        }

        Text {
            id: statusInfo
            objectName: "statusInfo"
            width: parent.width
            height: 20
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 10
            font.bold: true
            font.pointSize: 10
            font.family: "Arial"
            color: "white"
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            text: root.statusText != "" ? root.statusText : root.presenceText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        // One local file dropped anywhere on the window is taken as if chosen in the dialog;
        // nothing is taken while an update runs.
        DropArea {
            id: dropArea
            anchors.fill: parent
            enabled: !root.updating
            keys: ["text/uri-list"]
            onEntered: function (drag) {
                drag.accepted = _LocalFilePath.fromDrop(drag.urls) != ""
            }
            onDropped: function (drop) {
                const path = _LocalFilePath.fromDrop(drop.urls)
                if (path != "") {
                    _App.setSelectedFirmwareFile(path)
                    drop.accept(Qt.CopyAction)
                }
            }
        }
    }

    // Made when Select File is first pressed, not with the window.
    Loader {
        id: fileDialog
        objectName: "fileDialogLoader"
        active: false
        source: "FirmwareFileDialog.qml"
        Connections {
            target: fileDialog.item
            // Back to the window, on the button that opened the dialog.
            function onClosed() {
                root.requestActivate()
                open.forceActiveFocus()
            }
        }
    }

    // The Orvik is there, but the updater cannot open it: the release can set that right.
    Loader {
        objectName: "accessQuestionLoader"
        active: _Access ? _Access.asking : false
        sourceComponent: AccessQuestion {}
    }

    Loader {
        active: root.askingToQuit
        sourceComponent: QuitQuestion {
            onKeepUpdating: root.askingToQuit = false
            onQuitAnyway: {
                root.quitConfirmed = true
                root.askingToQuit = false
                root.close()
            }
        }
    }
}
