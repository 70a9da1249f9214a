// A scripted stand-in for the desktop notification service, for tests.
//
//   fake_notifications --address ADDRESS --record FILE --modes MODE[,MODE...]
//                      [--capabilities CAP[,CAP...]]
//
// Connects to the bus at ADDRESS, takes the name org.freedesktop.Notifications
// and prints "READY" on standard output. Each Notify call is answered with the
// next id (1, 2, ...) and recorded as one JSON line in FILE; what follows the
// answer is the next MODE in the list (the last one repeats):
//   click    ActionInvoked(id, "default"), then NotificationClosed(id, 2)
//   dismiss  NotificationClosed(id, 2)
//   expire   NotificationClosed(id, 1)
//   silent   nothing
//   noise    NotificationClosed for another id and ActionInvoked(id, "other"),
//            then ActionInvoked(id, "default")
//   vanish   the service leaves the bus
// CloseNotification(id) is recorded too and answered with
// NotificationClosed(id, 3). The program ends when its bus goes away.
#include <gio/gio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)";

constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

struct Service {
  std::string record;
  std::vector<std::string> modes;
  std::vector<std::string> capabilities;
  guint32 next_id = 1;
  std::size_t calls = 0;
  GMainLoop* loop = nullptr;
};

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void Record(const Service& service, const std::string& line) {
  std::ofstream(service.record, std::ios::app | std::ios::binary) << line << "\n";
}

void Emit(GDBusConnection* connection, const char* signal, GVariant* parameters) {
  g_dbus_connection_emit_signal(connection, nullptr, kPath, kInterface, signal, parameters,
                                nullptr);
}

void HandleNotify(Service& service, GDBusConnection* connection, GVariant* parameters,
                  GDBusMethodInvocation* invocation) {
  const gchar* app_name = nullptr;
  guint32 replaces_id = 0;
  const gchar* app_icon = nullptr;
  const gchar* summary = nullptr;
  const gchar* body = nullptr;
  GVariantIter* actions = nullptr;
  GVariantIter* hints = nullptr;
  gint32 expire_timeout = 0;
  g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", &app_name, &replaces_id, &app_icon, &summary,
                &body, &actions, &hints, &expire_timeout);
  std::string line = "{\"method\": \"Notify\", \"app_name\": " + Json(app_name) +
                     ", \"replaces_id\": " + std::to_string(replaces_id) +
                     ", \"app_icon\": " + Json(app_icon) + ", \"summary\": " + Json(summary) +
                     ", \"body\": " + Json(body) + ", \"actions\": [";
  const gchar* action = nullptr;
  bool first = true;
  while (g_variant_iter_next(actions, "&s", &action)) {
    line += (first ? "" : ", ") + Json(action);
    first = false;
  }
  line += "], \"hints\": {";
  const gchar* key = nullptr;
  GVariant* value = nullptr;
  first = true;
  while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
    gchar* printed = g_variant_print(value, TRUE);
    line += (first ? "" : ", ") + Json(key) + ": " + Json(printed);
    g_free(printed);
    g_variant_unref(value);
    first = false;
  }
  line += "}, \"expire_timeout\": " + std::to_string(expire_timeout) + "}";
  g_variant_iter_free(actions);
  g_variant_iter_free(hints);
  Record(service, line);

  const guint32 id = service.next_id++;
  const std::string mode = service.modes.empty()
                               ? "silent"
                               : service.modes[std::min(service.calls, service.modes.size() - 1)];
  ++service.calls;
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));

  if (mode == "click") {
    Emit(connection, "ActionInvoked", g_variant_new("(us)", id, "default"));
    Emit(connection, "NotificationClosed", g_variant_new("(uu)", id, 2u));
  } else if (mode == "dismiss") {
    Emit(connection, "NotificationClosed", g_variant_new("(uu)", id, 2u));
  } else if (mode == "expire") {
    Emit(connection, "NotificationClosed", g_variant_new("(uu)", id, 1u));
  } else if (mode == "noise") {
    Emit(connection, "NotificationClosed", g_variant_new("(uu)", id + 1000, 2u));
    Emit(connection, "ActionInvoked", g_variant_new("(us)", id, "other"));
    Emit(connection, "ActionInvoked", g_variant_new("(us)", id, "default"));
  } else if (mode == "vanish") {
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    std::exit(0);
  }
}

void OnMethodCall(GDBusConnection* connection, const gchar*, const gchar*, const gchar*,
                  const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                  gpointer data) {
  auto& service = *static_cast<Service*>(data);
  const std::string name = method;
  if (name == "Notify") {
    HandleNotify(service, connection, parameters, invocation);
  } else if (name == "CloseNotification") {
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    Record(service, "{\"method\": \"CloseNotification\", \"id\": " + std::to_string(id) + "}");
    g_dbus_method_invocation_return_value(invocation, nullptr);
    Emit(connection, "NotificationClosed", g_variant_new("(uu)", id, 3u));
  } else if (name == "GetCapabilities") {
    GVariantBuilder caps;
    g_variant_builder_init(&caps, G_VARIANT_TYPE("as"));
    for (const auto& cap : service.capabilities) g_variant_builder_add(&caps, "s", cap.c_str());
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &caps));
  } else {
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(ssss)", "fake", "tests", "1", "1.2"));
  }
}

void OnNameAcquired(GDBusConnection*, const gchar*, gpointer) {
  std::printf("READY\n");
  std::fflush(stdout);
}

void OnNameLost(GDBusConnection*, const gchar*, gpointer) {
  std::fprintf(stderr, "fake_notifications: the name is taken or the bus is gone\n");
  std::exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  Service service;
  std::string address;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--address") {
      address = value;
    } else if (option == "--record") {
      service.record = value;
    } else if (option == "--modes") {
      service.modes = SplitList(value);
    } else if (option == "--capabilities") {
      service.capabilities = SplitList(value);
    }
  }
  if (address.empty() || service.record.empty()) {
    std::fprintf(stderr, "usage: fake_notifications --address A --record F --modes M[,M...]\n");
    return 2;
  }
  GError* error = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (connection == nullptr) {
    std::fprintf(stderr, "fake_notifications: %s\n", error->message);
    return 1;
  }
  g_dbus_connection_set_exit_on_close(connection, TRUE);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  const GDBusInterfaceVTable vtable = {OnMethodCall, nullptr, nullptr, {}};
  g_dbus_connection_register_object(connection, kPath, node->interfaces[0], &vtable, &service,
                                    nullptr, nullptr);
  g_bus_own_name_on_connection(connection, "org.freedesktop.Notifications",
                               G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, OnNameAcquired, OnNameLost,
                               nullptr, nullptr);
  service.loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(service.loop);
  return 0;
}
