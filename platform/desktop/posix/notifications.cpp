#include "platform/desktop/notifications.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <set>

#include "platform/failure.h"
#include "platform/markup.h"

namespace platform::notifications {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// Long enough for a bus to start the service on demand, short enough that a
// stuck desktop does not hold the caller for long.
constexpr guint kConnectTimeoutMs = 5000;
constexpr gint kCallTimeoutMs = 10000;
constexpr gint kCloseTimeoutMs = 3000;

Failure BusFailure(const std::string& what, const GError* error) {
  std::string description = what;
  if (error != nullptr && error->message != nullptr)
    description += ": " + std::string(error->message);
  return Failure(err::kAutomationError, description);
}

// Makes `context` the thread's default while it lives, so that the
// connection and its signal subscriptions deliver to it.
class ThreadDefault {
 public:
  explicit ThreadDefault(GMainContext* context) : context_(context) {
    g_main_context_push_thread_default(context_);
  }
  ~ThreadDefault() { g_main_context_pop_thread_default(context_); }
  ThreadDefault(const ThreadDefault&) = delete;
  ThreadDefault& operator=(const ThreadDefault&) = delete;

 private:
  GMainContext* context_;
};

// The state of one asynchronous connect. It lives on the heap because a
// connect that does not end in time is abandoned, and its completion may
// still arrive later.
struct ConnectState {
  GDBusConnection* connection = nullptr;
  GError* error = nullptr;
  bool done = false;
};

void OnConnected(GObject*, GAsyncResult* result, gpointer data) {
  auto* state = static_cast<ConnectState*>(data);
  state->connection = g_dbus_connection_new_for_address_finish(result, &state->error);
  state->done = true;
}

gboolean OnConnectTimeout(gpointer data) {
  g_cancellable_cancel(static_cast<GCancellable*>(data));
  return G_SOURCE_REMOVE;
}

gboolean OnWaitTimeout(gpointer data) {
  *static_cast<bool*>(data) = true;
  return G_SOURCE_REMOVE;
}

class BusSession final : public Session {
 public:
  BusSession() : context_(g_main_context_new()) {}

  ~BusSession() override {
    if (connection_ != nullptr) {
      for (const guint id : subscriptions_) g_dbus_connection_signal_unsubscribe(connection_, id);
      if (closed_handler_ != 0) g_signal_handler_disconnect(connection_, closed_handler_);
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    // Deliveries still queued for the context go with it, undispatched.
    g_main_context_unref(context_);
  }

  void Connect(const std::string& address) {
    ThreadDefault thread_default(context_);
    GCancellable* cancellable = g_cancellable_new();
    auto* state = new ConnectState();
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable, OnConnected, state);
    GSource* timeout = g_timeout_source_new(kConnectTimeoutMs);
    g_source_set_callback(timeout, OnConnectTimeout, cancellable, nullptr);
    g_source_attach(timeout, context_);
    // After the cancel, give the connect a moment to report it; should it
    // not, it is abandoned with its state.
    GSource* give_up = g_timeout_source_new(kConnectTimeoutMs + 1000);
    bool gave_up = false;
    g_source_set_callback(give_up, OnWaitTimeout, &gave_up, nullptr);
    g_source_attach(give_up, context_);
    while (!state->done && !gave_up) g_main_context_iteration(context_, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    g_source_destroy(give_up);
    g_source_unref(give_up);
    g_object_unref(cancellable);
    if (!state->done) throw Failure(err::kAutomationError, "The session bus did not answer");
    connection_ = state->connection;
    GError* error = state->error;
    delete state;
    if (connection_ == nullptr) {
      const Failure failure = BusFailure("Cannot connect to the session bus", error);
      g_clear_error(&error);
      throw failure;
    }
    g_dbus_connection_set_exit_on_close(connection_, FALSE);
    // Subscribed before anything is shown, so that nothing can slip past.
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        connection_, kService, kInterface, "ActionInvoked", kPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, OnSignal, this, nullptr));
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        connection_, kService, kInterface, "NotificationClosed", kPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, OnSignal, this, nullptr));
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kService, G_DBUS_SIGNAL_FLAGS_NONE, OnSignal, this, nullptr));
    closed_handler_ = g_signal_connect(connection_, "closed", G_CALLBACK(OnBusClosed), this);
  }

  std::uint32_t Notify(const Notification& notification) override {
    if (!capabilities_known_) ReadCapabilities();
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    for (const auto& action : notification.actions) {
      g_variant_builder_add(&actions, "s", action.c_str());
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    if (notification.urgency) {
      g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(*notification.urgency));
    }
    const std::string body =
        body_markup_ ? EscapeMarkup(notification.body, Quotes::kKept) : notification.body;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, kService, kPath, kInterface, "Notify",
        g_variant_new("(susssasa{sv}i)", notification.app_name.c_str(), 0u,
                      notification.app_icon.c_str(), notification.summary.c_str(), body.c_str(),
                      &actions, &hints, notification.expire_timeout_ms),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (reply == nullptr) {
      const Failure failure =
          BusFailure("The notification service did not take the message", error);
      g_clear_error(&error);
      throw failure;
    }
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    shown_.insert(id);
    return id;
  }

  Event Wait(std::uint32_t id, std::optional<std::chrono::milliseconds> limit) override {
    if (limit && limit->count() <= 0) {
      while (g_main_context_iteration(context_, FALSE)) {
      }
      if (auto event = Take(id)) return *event;
      return {};
    }
    bool timed_out = false;
    GSource* timeout = nullptr;
    if (limit) {
      const auto ms = std::min<std::chrono::milliseconds::rep>(limit->count(), G_MAXUINT);
      timeout = g_timeout_source_new(static_cast<guint>(ms));
      g_source_set_callback(timeout, OnWaitTimeout, &timed_out, nullptr);
      g_source_attach(timeout, context_);
    }
    std::optional<Event> event;
    while (!(event = Take(id)) && !timed_out) g_main_context_iteration(context_, TRUE);
    if (timeout != nullptr) {
      g_source_destroy(timeout);
      g_source_unref(timeout);
    }
    return event ? *event : Event{};
  }

  void Close(std::uint32_t id) override {
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, kService, kPath, kInterface, "CloseNotification", g_variant_new("(u)", id),
        nullptr, G_DBUS_CALL_FLAGS_NONE, kCloseTimeoutMs, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
  }

 private:
  struct Arrival {
    std::uint32_t id = 0;  // 0 for the service leaving
    Event event;
  };

  void ReadCapabilities() {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, kService, kPath, kInterface, "GetCapabilities", nullptr,
        G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (reply == nullptr) {
      const Failure failure = BusFailure("No notification service", error);
      g_clear_error(&error);
      throw failure;
    }
    GVariantIter* iter = nullptr;
    const gchar* capability = nullptr;
    g_variant_get(reply, "(as)", &iter);
    while (g_variant_iter_next(iter, "&s", &capability)) {
      if (std::string(capability) == "body-markup") body_markup_ = true;
    }
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    capabilities_known_ = true;
  }

  // The first arrival that concerns `id`, or the service leaving, which
  // stays for every later wait.
  std::optional<Event> Take(std::uint32_t id) {
    for (auto it = arrivals_.begin(); it != arrivals_.end(); ++it) {
      if (it->event.kind == Event::Kind::kServiceGone) return it->event;
      if (it->id == id) {
        Event event = std::move(it->event);
        arrivals_.erase(it);
        return event;
      }
    }
    return std::nullopt;
  }

  static void OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* signal_name, GVariant* parameters, gpointer data) {
    auto* self = static_cast<BusSession*>(data);
    const std::string name = signal_name;
    Arrival arrival;
    if (name == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
      const gchar* key = nullptr;
      g_variant_get(parameters, "(u&s)", &arrival.id, &key);
      arrival.event.kind = Event::Kind::kActionInvoked;
      arrival.event.action_key = key;
    } else if (name == "NotificationClosed" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
      g_variant_get(parameters, "(uu)", &arrival.id, &arrival.event.reason);
      arrival.event.kind = Event::Kind::kClosed;
    } else if (name == "NameOwnerChanged" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) {
      const gchar* old_owner = nullptr;
      g_variant_get(parameters, "(&s&s&s)", nullptr, &old_owner, nullptr);
      // A service that starts on demand only gains an owner. One that loses
      // its owner is gone with its notifications, even if another takes over.
      if (*old_owner == '\0') return;
      arrival.event.kind = Event::Kind::kServiceGone;
    } else {
      return;
    }
    // The service speaks of other programs' notifications too. (Signals are
    // only delivered while Wait runs, after Notify has noted its id.)
    if (arrival.event.kind != Event::Kind::kServiceGone && self->shown_.count(arrival.id) == 0) {
      return;
    }
    self->arrivals_.push_back(std::move(arrival));
  }

  static void OnBusClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    Arrival arrival;
    arrival.event.kind = Event::Kind::kServiceGone;
    static_cast<BusSession*>(data)->arrivals_.push_back(arrival);
  }

  GMainContext* context_;
  GDBusConnection* connection_ = nullptr;
  std::vector<guint> subscriptions_;
  gulong closed_handler_ = 0;
  std::deque<Arrival> arrivals_;
  std::set<std::uint32_t> shown_;
  bool capabilities_known_ = false;
  bool body_markup_ = false;
};

}  // namespace

std::string IconNameForStyle(std::uint32_t style) {
  switch (style & 0x70u) {
    case 0x10u:
      return "dialog-error";
    case 0x20u:
      return "dialog-question";
    case 0x30u:
      return "dialog-warning";
    case 0x40u:
      return "dialog-information";
    default:
      return {};
  }
}

std::unique_ptr<Session> Session::Open() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') {
    throw Failure(err::kAutomationError, "No session bus: DBUS_SESSION_BUS_ADDRESS is not set");
  }
  auto session = std::make_unique<BusSession>();
  session->Connect(address);
  return session;
}

}  // namespace platform::notifications
