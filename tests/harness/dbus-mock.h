#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

/* One python3-dbusmock object on the private session or system bus of tests/with-buses.
 * The mock process lives as long as this object. */
class DBusMock
{
public:
  struct Call
  {
    std::string method;
    std::string args; // the arguments as GVariant text, "('x', 1)"
  };

  DBusMock (GBusType bus, const std::string &name, const std::string &path,
            const std::string &interface);
  /* A mock built from one of python3-dbusmock's templates ("upower"), which owns name at path. */
  static DBusMock *from_template (GBusType bus, const std::string &template_name,
                                  const std::string &name, const std::string &path);
  ~DBusMock ();
  DBusMock (const DBusMock &) = delete;
  DBusMock &operator= (const DBusMock &) = delete;

  /* Adds a method; code is the Python body run on a call ("ret = ..." for a reply). */
  void add_method (const std::string &method, const std::string &in_signature,
                   const std::string &out_signature, const std::string &code);
  /* Emits a signal of the mock's main interface; args is a tuple matching signature. */
  void emit_signal (const std::string &signal, const std::string &signature, GVariant *args);
  /* Calls a method of the mock control interface (template helpers among them); args is a
   * floating tuple or NULL. */
  void call_mock (const char *method, GVariant *args);
  /* The calls recorded so far, oldest first. */
  std::vector<Call> calls ();
  void clear_calls ();
  /* Waits until the mock recorded at least count calls of method, or a few seconds passed. */
  size_t wait_for_calls (const std::string &method, size_t count);

  GDBusConnection *connection () const
  {
    return connection_;
  }

private:
  DBusMock (GBusType bus, const std::string &name, const std::string &path,
            const std::vector<std::string> &arguments);
  GVariant *mock_call (const char *method, GVariant *parameters);

  GSubprocess *process_ = nullptr;
  GDBusConnection *connection_ = nullptr;
  std::string name_;
  std::string path_;
};
