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
  ~DBusMock ();
  DBusMock (const DBusMock &) = delete;
  DBusMock &operator= (const DBusMock &) = delete;

  /* Adds a method; code is the Python body run on a call ("ret = ..." for a reply). */
  void add_method (const std::string &method, const std::string &in_signature,
                   const std::string &out_signature, const std::string &code);
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
  GVariant *mock_call (const char *method, GVariant *parameters);

  GSubprocess *process_ = nullptr;
  GDBusConnection *connection_ = nullptr;
  std::string name_;
  std::string path_;
};
