import QtQuick
import QtQuick.Window
import QtQuick.Dialogs

// The file dialog (Qt 6), made only when it is first needed. Qt 6's own dialog is drawn
// inside its parent window, which at the updater's size leaves no room for it: it gets a
// window of its own, titled as the dialog, as on Qt 5.
Item {
    id: dialogItem

    signal closed
    // The controller is gone before the window at shutdown.
    readonly property string image: _App ? _App.selectedFirmwareFile : ""

    function open() {
        dialogWindow.show()
        selectDialog.open()
    }

    Window {
        id: dialogWindow
        title: selectDialog.title
        width: 640
        height: 480
        flags: Qt.Dialog
        modality: Qt.WindowModal
        onClosing: selectDialog.reject()
    }

    FileDialog {
        id: selectDialog
        objectName: "selectDialog"
        title: "Select Firmware file to load"
        parentWindow: dialogWindow
        fileMode: FileDialog.OpenFile
        nameFilters: ["Firmware files (*.bin)"]
        // Where the last image came from; the documents folder before there was one.
        currentFolder: _LocalFilePath.folderOf(dialogItem.image)
        onAccepted: _App.setSelectedFirmwareFile(_LocalFilePath.fromUrl(selectedFile))
        onVisibleChanged: {
            if (!visible) {
                dialogWindow.hide()
                dialogItem.closed()
            }
        }
    }
}
