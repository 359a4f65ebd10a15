#include "dbus-mock.h"
#include "log-capture.h"
#include "sf-i18n.h"
#include "sf-target-mount.h"
#include "target-test-support.h"
#include "test-mount.h"
#include "tmpfs-mount.h"

#include <gtest/gtest.h>
#include <clocale>
#include <libintl.h>
#include <sys/mount.h>

namespace
{
/* The display name of a target made for a mount of that name, or "(no target)". */
std::string
display_name_for (const std::string &path, const char *mount_name)
{
  g_autoptr (GMount) mount = make_mount (path, mount_name);
  g_autoptr (SfTarget) target = sf_target_mount_new (mount);
  return target != NULL ? sf_target_get_display_name (target) : "(no target)";
}

class TargetMountTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite ()
  {
    /* The built English catalogue, chosen the way a user's environment chooses it. */
    setlocale (LC_ALL, "C.UTF-8");
    g_setenv ("LANGUAGE", "en", TRUE);
    sf_i18n_init ();
    bindtextdomain ("safehold", SAFEHOLD_BINARY_DIR "/locale");
  }

  void SetUp () override
  {
    root_ = make_temp_dir ("card-XXXXXX");
  }

  std::string root_;
};

TEST_F (TargetMountTest, EveryEngineTextHasAnEnglishTranslation)
{
  for (const char *id :
       { "back_fi_dia002_memorycard_external", "back_fi_memory_full", "back_fi_corrupt_backup",
         "back_fi_unknown_error", "back_fi_restoring_cancelled" })
    {
      std::string text = sf_i18n_translate (id);
      EXPECT_EQ (std::string::npos, text.find ("back_fi_")) << id;
    }
  EXPECT_STREQ ("Memory card", sf_i18n_translate ("back_fi_dia002_memorycard_external"));
}

TEST_F (TargetMountTest, AMountBecomesAnAvailableTargetNamedForTheUser)
{
  g_autoptr (GMount) mount = make_mount (root_, "MyCARD");
  g_autoptr (SfTarget) target = sf_target_mount_new (mount);
  ASSERT_NE (nullptr, target);
  EXPECT_TRUE (SF_IS_TARGET_MOUNT (target));
  EXPECT_EQ (uri_of (root_), sf_target_get_uri (target));
  EXPECT_TRUE (sf_target_get_is_available (target));
  EXPECT_FALSE (sf_target_get_is_read_only (target));
  EXPECT_FALSE (sf_target_get_is_persistent (target));
  EXPECT_STREQ ("Mycard", sf_target_get_display_name (target));

  EXPECT_EQ ("Memory card", display_name_for (root_, "mmc-undefined-name"));
  EXPECT_EQ ("Memory card", display_name_for (root_, NULL));
  EXPECT_EQ ("Memory card", display_name_for (root_, ""));
  EXPECT_EQ ("Sd", display_name_for (root_, "sD"));

  LogCapture log;
  EXPECT_EQ ("(no target)", display_name_for (root_ + "/missing", "Gone"));
}

TEST_F (TargetMountTest, AReadOnlyVolumeGivesAReadOnlyTarget)
{
  TmpfsMount card;
  SKIP_UNLESS_MOUNTED (card);
  ASSERT_EQ (0, mount (NULL, card.path ().c_str (), NULL, MS_REMOUNT | MS_RDONLY, NULL));
  g_autoptr (GMount) mount = make_mount (card.path (), "Card");
  g_autoptr (SfTarget) target = sf_target_mount_new (mount);
  ASSERT_NE (nullptr, target);
  EXPECT_TRUE (sf_target_get_is_read_only (target));
}

TEST_F (TargetMountTest, InternalMemoryIsNamedAfterTheBluetoothDevice)
{
  EXPECT_EQ ("Memory card", display_name_for (root_, "mmc-undefined-name-internal"))
      << "without a Bluetooth service";

  DBusMock bluez (G_BUS_TYPE_SYSTEM, "org.bluez", "/", "org.bluez.Manager");
  bluez.add_method ("DefaultAdapter", "", "o", "ret = '/org/bluez/hci0'");
  g_autoptr (GError) error = NULL;
  g_autoptr (GVariant) added = g_dbus_connection_call_sync (
      bluez.connection (), "org.bluez", "/", "org.freedesktop.DBus.Mock", "AddObject",
      g_variant_new_parsed ("('/org/bluez/hci0', 'org.bluez.Adapter', @a{sv} {}, "
                            "[('GetProperties', '', 'a{sv}', "
                            "'ret = {\"Powered\": True, \"Name\": \"Anna N900\"}')])"),
      NULL, G_DBUS_CALL_FLAGS_NONE, 5000, NULL, &error);
  ASSERT_NE (nullptr, added) << error->message;

  EXPECT_EQ ("Anna N900", display_name_for (root_, "mmc-undefined-name-internal"));
  EXPECT_EQ (1u, bluez.wait_for_calls ("DefaultAdapter", 1));
  EXPECT_EQ ("Mmc-undefined-name-internal-2",
             display_name_for (root_, "mmc-undefined-name-internal-2"))
      << "only the internal memory's name asks Bluetooth";
  EXPECT_EQ (1u, bluez.calls ().size ());
}
} // namespace
