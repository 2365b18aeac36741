// The log pane (stdout) and the message box (stderr) carry the plug-in's texts
// byte for byte: no platform may turn "\n" into "\r\n" on the way.
#pragma once

namespace corvantis {

// Switches stdout and stderr to binary mode where the C runtime has a text mode;
// does nothing elsewhere. Called once, before anything is written.
void useBinaryStandardStreams();

} // namespace corvantis
