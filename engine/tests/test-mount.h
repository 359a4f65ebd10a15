#pragma once

#include <gio/gio.h>

#include <string>

/* A mount as the volume monitor hands it over: a root and a name. */
#define TEST_TYPE_MOUNT (test_mount_get_type ())
G_DECLARE_FINAL_TYPE (TestMount, test_mount, TEST, MOUNT, GObject)

struct _TestMount
{
  GObject parent_instance;
  GFile *root;
  gchar *name;
};

static GFile *
test_mount_get_root (GMount *mount)
{
  return G_FILE (g_object_ref (TEST_MOUNT (mount)->root));
}

static gchar *
test_mount_get_name (GMount *mount)
{
  return g_strdup (TEST_MOUNT (mount)->name);
}

static void
test_mount_iface_init (GMountIface *iface)
{
  iface->get_root = test_mount_get_root;
  iface->get_name = test_mount_get_name;
}

G_DEFINE_TYPE_WITH_CODE (TestMount, test_mount, G_TYPE_OBJECT,
                         G_IMPLEMENT_INTERFACE (G_TYPE_MOUNT, test_mount_iface_init))

static void
test_mount_finalize (GObject *object)
{
  g_object_unref (TEST_MOUNT (object)->root);
  g_free (TEST_MOUNT (object)->name);
  G_OBJECT_CLASS (test_mount_parent_class)->finalize (object);
}

static void
test_mount_class_init (TestMountClass *klass)
{
  G_OBJECT_CLASS (klass)->finalize = test_mount_finalize;
}

static void
test_mount_init (TestMount *)
{
}

/* A mount of the given root directory and name (which may be NULL). */
static inline GMount *
make_mount (const std::string &path, const char *name)
{
  TestMount *mount = TEST_MOUNT (g_object_new (TEST_TYPE_MOUNT, NULL));
  mount->root = g_file_new_for_path (path.c_str ());
  mount->name = g_strdup (name);
  return G_MOUNT (mount);
}
