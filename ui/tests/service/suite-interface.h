#pragma once

/* The desktop suite's interface as the program must describe it when introspected. */
inline constexpr char suiteInterfaceXml[]
    = "  <interface name=\"com.korvel.backup.plugin\">\n"
      "    <method name=\"request\">\n"
      "      <arg name=\"operation\" type=\"s\" direction=\"in\"/>\n"
      "      <arg name=\"command\" type=\"s\" direction=\"in\"/>\n"
      "      <arg name=\"fileSize\" type=\"i\" direction=\"in\"/>\n"
      "      <arg name=\"result\" type=\"i\" direction=\"out\"/>\n"
      "      <arg name=\"filePath\" type=\"s\" direction=\"out\"/>\n"
      "    </method>\n"
      "    <method name=\"cancel\"/>\n"
      "  </interface>\n";
