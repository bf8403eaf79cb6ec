import QtQuick 2.12
import QtQuick.Window 2.12
import QtQuick.Dialogs 1.3

Window {
    id: root
    visible: true
    width: 420
    height: 240
    flags: Qt.Dialog
    title: qsTr("Orvik Firmware Updater")

    // While the Orvik is being updated, a close asks first: quitting could leave the
    // device without a program that starts.
    property bool askingToQuit: false
    property bool quitConfirmed: false
    onClosing: {
        if (_App.status == 1 && !quitConfirmed) {
            close.accepted = false
            askingToQuit = true
        }
    }
    Connections {
        target: _App
        // The run has ended: nothing left to ask about.
        function onStatusChanged() {
            if (_App.status != 1)
                root.askingToQuit = false
        }
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

                Text {
                    id: message
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
                    text: _App.selectedFirmwareFile == "" ? "Please select firmware file (*.bin)"
                        : _App.status == 0 ? "Firmware file selected:\n[ " + _App.selectedFirmwareFile + " ]"
                        : _App.status == 1 ? "Firmware Update in progress...\n[ " + _App.selectedFirmwareFile + " ]"
                        : _App.status == 2 ? "Firmware Update SUCCESS\n[ " + _App.selectedFirmwareFile + " ]"
                        : _App.status == 3 ? "Firmware Update FAILED\n[ " + _App.selectedFirmwareFile + " ]"
                        : ""
                }
            }

            Rectangle {
                id: open
                width: 100
                height: 50
                anchors.horizontalCenter: parent.horizontalCenter
                radius: 5
                enabled: _App.status != 1
                color: enabled ? "white" : "grey"

                Text {
                    anchors.centerIn: parent
                    text: "Select File"
                    font.bold: true
                    font.pointSize: 12
                    font.family: "Arial"
                    color: "black"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }

                MouseArea {
                    anchors.fill: parent
                    onClicked: selectDialog.open()
                }
            }

            Rectangle {
                id: update
                width: 100
                height: 50
                anchors.horizontalCenter: parent.horizontalCenter
                radius: 5
                enabled: _App.status != 1 && _App.selectedFirmwareFile != ""
                color: enabled ? "white" : "grey"

                Text {
                    anchors.centerIn: parent
                    text: "Update"
                    font.bold: true
                    font.pointSize: 12
                    font.family: "Arial"
                    color: "black"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }

                MouseArea {
                    anchors.fill: parent
                    onClicked: _App.startUpdate()
                }
            }
        }

        Text {
            id: statusInfo
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
            text: _App.statusInfo
        }
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

    FileDialog {
        id: selectDialog
        title: "Select Firmware file to load"
        selectExisting: true
        selectMultiple: false
        nameFilters: ["Firmware files (*.bin)"]
        folder: shortcuts.documents
        onAccepted: _App.setSelectedFirmwareFile(_LocalFilePath.fromUrl(fileUrl))
    }
}
