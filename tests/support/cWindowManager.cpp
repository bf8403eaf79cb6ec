#include "cWindowManager.h"

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

bool cWindowManager::requestClose(const QString &display, const QString &window)
{
    const QByteArray name = display.toLocal8Bit();
    xcb_connection_t *connection =
        xcb_connect(name.isEmpty() ? nullptr : name.constData(), nullptr);
    auto atom = [connection](const char *atomName) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, std::strlen(atomName), atomName), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    };
    bool sent = false;
    if (!xcb_connection_has_error(connection)) {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window.toUInt();
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_generic_error_t *error = xcb_request_check(
            connection, xcb_send_event_checked(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                                               reinterpret_cast<const char *>(&event)));
        sent = !error && event.type != XCB_ATOM_NONE;
        std::free(error);
    }
    xcb_disconnect(connection);
    return sent;
}
