import QtQuick 2.12
import QtQuick.Dialogs 1.3

// The file dialog (Qt 5), made only when it is first needed: it costs a good part of the
// window's start. An item, so that a Loader can hold it.
Item {
    id: dialogItem

    signal closed
    // The controller is gone before the window at shutdown.
    readonly property string image: _App ? _App.selectedFirmwareFile : ""

    function open() {
        selectDialog.open()
    }

    FileDialog {
        id: selectDialog
        objectName: "selectDialog"
        title: "Select Firmware file to load"
        selectExisting: true
        selectMultiple: false
        nameFilters: ["Firmware files (*.bin)"]
        // Where the last image came from; the documents folder before there was one.
        folder: _LocalFilePath.folderOf(dialogItem.image)
        onAccepted: _App.setSelectedFirmwareFile(_LocalFilePath.fromUrl(fileUrl))
        onVisibleChanged: if (!visible) dialogItem.closed()
    }
}
