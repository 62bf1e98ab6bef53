#include "dialogplacement.h"

#include <xcb/xcb.h>
#include <QAbstractNativeEventFilter>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "mainwindow.h"

namespace {

// Moves a window so that its outer rectangle of the given size is centred on
// the main window. A window's position is that of its frame, which the
// window manager applies, so no frame size is needed here.
void CentreOuterSize(QWidget* window, const QSize& outer) {
    const QPoint centre = MainForm->frameGeometry().center();
    window->move(centre - QPoint(outer.width() / 2, outer.height() / 2));
}

}  // namespace

void CentreOverMainWindow(QWidget* window) {
    if (!MainForm || !window) {
        return;
    }
    CentreOuterSize(window, window->frameGeometry().size());
}

namespace {

// The window manager's frame around a top-level window under X11, as the
// _NET_FRAME_EXTENTS property tells it. The frame is asked for before a
// window is first shown (_NET_REQUEST_FRAME_EXTENTS), so that it is usually
// known before the window appears, and every later change of the property
// is reported, however late the window manager is.
class FrameExtents : public QObject, public QAbstractNativeEventFilter {
public:
    using Changed = std::function<void(const QMargins&)>;

    // Nothing on other platforms. It lives as long as the application.
    static FrameExtents* Instance() {
        static QPointer<FrameExtents> instance;
        if (!instance) {
            instance = Make();
        }
        return instance;
    }

    void Watch(WId window, const Changed& changed) {
        watched_.insert(window, changed);
        xcb_client_message_event_t request{};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = static_cast<xcb_window_t>(window);
        request.type = requestAtom_;
        xcb_send_event(connection_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&request));
        xcb_flush(connection_);
    }

    void Forget(WId window) { watched_.remove(window); }

    // The frame as the window's property holds it now; none while the window
    // manager has not set it.
    std::optional<QMargins> Read(WId window) const {
        const xcb_get_property_cookie_t cookie = xcb_get_property(
            connection_, 0, static_cast<xcb_window_t>(window), extentsAtom_, XCB_ATOM_CARDINAL, 0, 4);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        if (!reply) {
            return std::nullopt;
        }
        std::optional<QMargins> frame;
        if (reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
            const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            // left, right, top, bottom
            frame = QMargins(static_cast<int>(v[0]), static_cast<int>(v[2]), static_cast<int>(v[1]),
                             static_cast<int>(v[3]));
        }
        std::free(reply);
        return frame;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) {
            return false;
        }
        const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
        if (notify->atom != extentsAtom_) {
            return false;
        }
        const auto it = watched_.constFind(static_cast<WId>(notify->window));
        if (it != watched_.constEnd()) {
            if (const std::optional<QMargins> frame = Read(it.key())) {
                const Changed changed = it.value();  // the call may change the table
                changed(*frame);
            }
        }
        return false;
    }

private:
    static FrameExtents* Make() {
        const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        if (!connection) {
            return nullptr;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_atom_t extents = Atom(connection, "_NET_FRAME_EXTENTS");
        const xcb_atom_t request = Atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
        if (!screen || extents == XCB_ATOM_NONE || request == XCB_ATOM_NONE) {
            return nullptr;
        }
        auto* instance = new FrameExtents(connection, screen->root, extents, request);
        qGuiApp->installNativeEventFilter(instance);
        return instance;
    }

    static xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
        const xcb_intern_atom_cookie_t cookie =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }

    FrameExtents(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t extents, xcb_atom_t request)
        : QObject(qGuiApp),
          connection_(connection),
          root_(root),
          extentsAtom_(extents),
          requestAtom_(request) {}

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t extentsAtom_;
    xcb_atom_t requestAtom_;
    QHash<WId, Changed> watched_;
};

// Keeps one dialog at its designed outer size. Under X11 the frame comes from
// the window manager, asked for at start-up and followed as it changes;
// elsewhere it is what the toolkit knows of it when the dialog is shown.
class OuterGeometry : public QObject {
public:
    OuterGeometry(QWidget* window, DialogPlacement placement, bool fixedSize)
        : QObject(window),
          window_(window),
          outer_(window->size()),
          designPosition_(window->pos()),
          placement_(placement),
          fixedSize_(fixedSize) {
        window->installEventFilter(this);
        Fit(QMargins());
        if (FrameExtents* extents = FrameExtents::Instance()) {
            extents_ = extents;
            id_ = window->winId();
            extents->Watch(id_, [this](const QMargins& frame) {
                Fit(frame);
                if (window_->isVisible()) {
                    Place();
                }
            });
        }
    }

    ~OuterGeometry() override {
        if (FrameExtents* extents = extents_) {
            extents->Forget(id_);
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show) {
            const std::optional<QMargins> frame = extents_ ? extents_->Read(id_) : std::nullopt;
            Fit(frame ? *frame : QtFrame());
            Place();
        }
        return false;
    }

private:
    QMargins QtFrame() const {
        const QRect frame = window_->frameGeometry();
        const QRect client = window_->geometry();
        return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                        frame.right() - client.right(), frame.bottom() - client.bottom());
    }

    void Fit(const QMargins& frame) {
        const QSize client = (outer_ - QSize(frame.left() + frame.right(), frame.top() + frame.bottom()))
                                 .expandedTo(QSize(1, 1));
        if (fixedSize_) {
            window_->setFixedSize(client);
        } else {
            window_->resize(client);
        }
    }

    void Place() {
        if (placement_ == DialogPlacement::CentredOverMain) {
            if (MainForm) {
                CentreOuterSize(window_, outer_);
            }
        } else {
            window_->move(designPosition_);
        }
    }

    QWidget* window_;
    QSize outer_;
    QPoint designPosition_;
    DialogPlacement placement_;
    bool fixedSize_;
    QPointer<FrameExtents> extents_;
    WId id_ = 0;
};

}  // namespace

void KeepOuterGeometry(QWidget* dialog, DialogPlacement placement, bool fixedSize) {
    new OuterGeometry(dialog, placement, fixedSize);
}
