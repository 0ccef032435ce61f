/* Host stand-in: the GUIDs are defined in parport_standin.cpp. */
