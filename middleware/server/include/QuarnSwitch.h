#pragma once
// The server program's command line: a registration switch after "-" or "/", in any case,
// taking up the whole rest of the line. A switch followed by more text is no switch: the
// program then runs as a server.
// The service build knows one switch more, "Service" (register as a service).
enum class QuarnSwitch { Run, RegServer, UnregServer, Service };

QuarnSwitch ParseQuarnSwitch(const char* commandLine, bool withService = false);
