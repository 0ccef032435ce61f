/* Host stand-in: the removal GUIDs are declared in ntddk.h here. */
