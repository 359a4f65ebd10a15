<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English texts behind the application's "qtn_" IDs. -->
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="qtn_back_backuprestoretitle">
        <source>qtn_back_backuprestoretitle</source>
        <translation>Backup</translation>
    </message>
    <message id="qtn_back_newbackuptitle">
        <source>qtn_back_newbackuptitle</source>
        <translation>New backup</translation>
    </message>
    <message id="qtn_back_start">
        <source>qtn_back_start</source>
        <translation>Start</translation>
    </message>
    <message id="qtn_back_notes">
        <source>qtn_back_notes</source>
        <translation>Notes for this backup</translation>
    </message>
    <message id="qtn_back_backupfilecontents">
        <source>qtn_back_backupfilecontents</source>
        <translation>The backup holds your contacts, messages, e-mail, calendar, bookmarks, settings and the list of your applications. Your documents and media files are not included.</translation>
    </message>
    <message id="qtn_back_backupfilecontents2">
        <source>qtn_back_backupfilecontents2</source>
        <translation>Restoring replaces the current contents of the backed-up items with those of this backup. The device restarts when the restore is done.</translation>
    </message>
    <message id="qtn_back_password_protect">
        <source>qtn_back_password_protect</source>
        <translation>Protect with a password (optional)</translation>
    </message>
    <message id="qtn_back_password_confirm">
        <source>qtn_back_password_confirm</source>
        <translation>Confirm the password</translation>
    </message>
    <message id="qtn_back_passwords_differ">
        <source>qtn_back_passwords_differ</source>
        <translation>The passwords do not match</translation>
    </message>
    <message id="qtn_back_backup_created">
        <source>qtn_back_backup_created</source>
        <translation>%1 created</translation>
    </message>
    <message id="qtn_back_protected">
        <source>qtn_back_protected</source>
        <translation>Protected</translation>
    </message>
    <message id="qtn_back_password_query_tit">
        <source>qtn_back_password_query_tit</source>
        <translation>Protected backup</translation>
    </message>
    <message id="qtn_back_password_query">
        <source>qtn_back_password_query</source>
        <translation>Backup %1 is protected. Enter its password to restore it.</translation>
    </message>
    <message id="qtn_back_password">
        <source>qtn_back_password</source>
        <translation>Password</translation>
    </message>
    <message id="qtn_back_wrong_password" numerus="yes">
        <source>qtn_back_wrong_password</source>
        <translation>
            <numerusform>Wrong password, %n attempt left</numerusform>
            <numerusform>Wrong password, %n attempts left</numerusform>
        </translation>
    </message>
    <message id="qtn_back_password_refused">
        <source>qtn_back_password_refused</source>
        <translation>Wrong password. Nothing was restored.</translation>
    </message>
    <message id="qtn_back_backup_options">
        <source>qtn_back_backup_options</source>
        <translation>Backup</translation>
    </message>
    <message id="qtn_back_usedforrestore">
        <source>qtn_back_usedforrestore</source>
        <translation>Last restored %1</translation>
    </message>
    <message id="qtn_back_restore">
        <source>qtn_back_restore</source>
        <translation>Restore</translation>
    </message>
    <message id="qtn_back_delete">
        <source>qtn_back_delete</source>
        <translation>Delete</translation>
    </message>
    <message id="qtn_back_omdelete">
        <source>qtn_back_omdelete</source>
        <translation>Delete</translation>
    </message>
    <message id="qtn_back_omrestore">
        <source>qtn_back_omrestore</source>
        <translation>Restore</translation>
    </message>
    <message id="qtn_back_restoretheseitems_tit">
        <source>qtn_back_restoretheseitems_tit</source>
        <translation>Restore backup?</translation>
    </message>
    <message id="qtn_back_restore_named_tit">
        <source>qtn_back_restore_named_tit</source>
        <translation>Restore %1?</translation>
    </message>
    <message id="qtn_back_restoring_tit">
        <source>qtn_back_restoring_tit</source>
        <translation>Restore</translation>
    </message>
    <message id="qtn_back_stop_backup">
        <source>qtn_back_stop_backup</source>
        <translation>Stop backup</translation>
    </message>
    <message id="qtn_back_continue_backup">
        <source>qtn_back_continue_backup</source>
        <translation>Continue</translation>
    </message>
    <message id="qtn_back_restoretheseitems">
        <source>qtn_back_restoretheseitems</source>
        <translation>The current data of the backed-up items will be replaced and the device restarted afterwards.</translation>
    </message>
    <message id="qtn_back_deletethisbackup_tit">
        <source>qtn_back_deletethisbackup_tit</source>
        <translation>Delete backup?</translation>
    </message>
    <message id="qtn_back_deletethisbackup">
        <source>qtn_back_deletethisbackup</source>
        <translation>Delete backup %1 made on %2 at %3?</translation>
    </message>
    <message id="qtn_back_delete_failed">
        <source>qtn_back_delete_failed</source>
        <translation>Backup %1 could not be deleted</translation>
    </message>
    <message id="qtn_back_backup_gone">
        <source>qtn_back_backup_gone</source>
        <translation>Backup %1 is no longer on the memory</translation>
    </message>
    <message id="qtn_back_creatingbackup">
        <source>qtn_back_creatingbackup</source>
        <translation>Creating backup...</translation>
    </message>
    <message id="qtn_back_restoring">
        <source>qtn_back_restoring</source>
        <translation>Restoring...</translation>
    </message>
    <message id="qtn_back_cancelingbackup">
        <source>qtn_back_cancelingbackup</source>
        <translation>Cancelling...</translation>
    </message>
    <message id="qtn_back_backup_ready">
        <source>qtn_back_backup_ready</source>
        <translation>The backup is ready. You can now update the device software.</translation>
    </message>
    <message id="qtn_back_cancel_backup">
        <source>qtn_back_cancel_backup</source>
        <translation>Stop making the backup?</translation>
    </message>
    <message id="qtn_back_lowbatt_tit">
        <source>qtn_back_lowbatt_tit</source>
        <translation>Low battery</translation>
    </message>
    <message id="qtn_back_restorewithlowbattery">
        <source>qtn_back_restorewithlowbattery</source>
        <translation>The battery is low. Connect the charger before restoring, or restore anyway?</translation>
    </message>
    <message id="qtn_back_backupwithlowbattery">
        <source>qtn_back_backupwithlowbattery</source>
        <translation>The battery is low. Connect the charger before making a backup, or go on anyway?</translation>
    </message>
    <message id="qtn_back_launch_installations_tit">
        <source>qtn_back_launch_installations_tit</source>
        <translation>Reinstall applications?</translation>
    </message>
    <message id="qtn_back_launch_installations">
        <source>qtn_back_launch_installations</source>
        <translation>The list of your applications was restored. Open the application manager to install them again?</translation>
    </message>
    <message id="qtn_back_cancelbu_tit">
        <source>qtn_back_cancelbu_tit</source>
        <translation>Backup in progress</translation>
    </message>
    <message id="qtn_back_cancel_and_close">
        <source>qtn_back_cancel_and_close</source>
        <translation>Stop the backup and close?</translation>
    </message>
    <message id="qtn_back_devicememfullrestore">
        <source>qtn_back_devicememfullrestore</source>
        <translation>Not enough free memory on the device to restore this backup.</translation>
    </message>
    <message id="qtn_back_devicememfullbackup">
        <source>qtn_back_devicememfullbackup</source>
        <translation>Not enough free memory on the device to make a backup.</translation>
    </message>
    <message id="qtn_back_backupinterrupted">
        <source>qtn_back_backupinterrupted</source>
        <translation>The backup was interrupted.</translation>
    </message>
    <message id="qtn_back_memory_read_only">
        <source>qtn_back_memory_read_only</source>
        <translation>The memory is read-only. No backup can be made on it.</translation>
    </message>
    <message id="qtn_back_file_too_large">
        <source>qtn_back_file_too_large</source>
        <translation>The memory card cannot hold a file that large. Back up fewer data, or use a memory that holds larger files.</translation>
    </message>
    <message id="qtn_back_backupinterrupted_lumo">
        <source>qtn_back_backupinterrupted_lumo</source>
        <translation>Not possible while the device is connected to the PC suite.</translation>
    </message>
    <message id="qtn_back_restoreinterrupted">
        <source>qtn_back_restoreinterrupted</source>
        <translation>The restore was interrupted.</translation>
    </message>
    <message id="qtn_back_bufail_tit">
        <source>qtn_back_bufail_tit</source>
        <translation>Backup failed</translation>
    </message>
    <message id="qtn_back_restorefail_tit">
        <source>qtn_back_restorefail_tit</source>
        <translation>Restore failed</translation>
    </message>
    <message id="qtn_back_backup_for_app_failed_tit">
        <source>qtn_back_backup_for_app_failed_tit</source>
        <translation>Some applications were not backed up</translation>
    </message>
    <message id="qtn_back_backup_for_app_failed">
        <source>qtn_back_backup_for_app_failed</source>
        <translation>The data of these applications could not be backed up:
%1</translation>
    </message>
    <message id="qtn_back_restore_for_app_failed_tit">
        <source>qtn_back_restore_for_app_failed_tit</source>
        <translation>Some applications were not restored</translation>
    </message>
    <message id="qtn_back_restore_for_app_failed">
        <source>qtn_back_restore_for_app_failed</source>
        <translation>The data of these applications could not be restored:
%1</translation>
    </message>
    <message id="qtn_back_restore_items_failed">
        <source>qtn_back_restore_items_failed</source>
        <translation>These items were not restored:
%1</translation>
    </message>
    <message id="qtn_back_restore_done">
        <source>qtn_back_restore_done</source>
        <translation>Restore done.</translation>
    </message>
    <message id="qtn_back_settingsreboot">
        <source>qtn_back_settingsreboot</source>
        <translation>Restore done. The device restarts now.</translation>
    </message>
    <message id="qtn_back_stop_restore">
        <source>qtn_back_stop_restore</source>
        <translation>A restore cannot be stopped.</translation>
    </message>
    <message id="qtn_back_no_close_during_restore_tit">
        <source>qtn_back_no_close_during_restore_tit</source>
        <translation>Restore in progress</translation>
    </message>
    <message id="qtn_back_no_close_during_restore">
        <source>qtn_back_no_close_during_restore</source>
        <translation>The application cannot be closed during a restore.</translation>
    </message>
    <message id="qtn_back_emptystate">
        <source>qtn_back_emptystate</source>
        <translation>No backups</translation>
    </message>
    <message id="qtn_back_emptystate_msm">
        <source>qtn_back_emptystate_msm</source>
        <translation>Backups cannot be made or restored while the device is connected to a PC.</translation>
    </message>
    <message id="qtn_back_internal_memory">
        <source>qtn_back_internal_memory</source>
        <translation>Device memory</translation>
    </message>
    <message id="qtn_comm_kilobytes">
        <source>qtn_comm_kilobytes</source>
        <translation>%1 kB</translation>
    </message>
    <message id="qtn_comm_ok">
        <source>qtn_comm_ok</source>
        <translation>OK</translation>
    </message>
    <message id="qtn_comm_cancel">
        <source>qtn_comm_cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="qtn_comm_yes">
        <source>qtn_comm_yes</source>
        <translation>Yes</translation>
    </message>
    <message id="qtn_comm_no">
        <source>qtn_comm_no</source>
        <translation>No</translation>
    </message>
</context>
</TS>
