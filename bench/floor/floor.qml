import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    visible: true
    width: 420
    height: 240
    flags: Qt.Dialog
    title: "Orvik Bench Floor"
}
