#pragma once
// libssh2 and the system's socket library are process-wide, while tunnels and relays come and go:
// each holds a TunnelLibraries for as long as it may use them. The first use in the process starts
// them, the last one ends them, on whatever ordinary thread lets go last. So two tunnels never
// unload the library under each other, and a relay that outlives quit (still in a name lookup)
// ends them itself when it finishes after everyone else.
class TunnelLibraries {
 public:
  TunnelLibraries();
  ~TunnelLibraries();
  TunnelLibraries(const TunnelLibraries&);
  TunnelLibraries& operator=(const TunnelLibraries&) = delete;

  // Whether libssh2 is started; without it every security start fails.
  static bool SSHAvailable();
  // How many uses are held in the process.
  static int Users();
};
