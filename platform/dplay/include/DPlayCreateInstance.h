#pragma once
// The one place where the program obtains its DirectPlay objects.
//
// Wine's DirectPlay cannot host or join a session, so this build hands out a DirectPlay of its
// own, TCP/IP only, over Winsock. The interfaces are the platform's (dplay.h, dplobby.h).
//
// Same contract as CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, iid, ppv):
//   CLSID_DirectPlay       gives IDirectPlay4A (also IDirectPlay2A, IDirectPlay3A, IUnknown);
//   CLSID_DirectPlayLobby  gives IDirectPlayLobby3A (also the earlier ANSI lobby interfaces).
// To build against the system's DirectPlay, make DPlayCreateInstance call CoCreateInstance.
//
// What the objects do (everything else returns DPERR_UNSUPPORTED):
// - EnumConnections reports the TCP/IP provider; the lobby's CreateCompoundAddress builds an
//   address from DPAID_ServiceProvider, DPAID_INet (host name or IPv4 text; empty on the host)
//   and, optionally, DPAID_INetPort (default: DirectPlay's port 47624); InitializeConnection.
// - Client/server sessions only: Open(DPOPEN_CREATE) listens on the port; EnumSessions asks the
//   one host of the address; Open(DPOPEN_JOIN) joins by instance GUID (DPERR_NOSESSIONS when no
//   such session answers there); GetSessionDesc, GetCaps, Close.
// - CreatePlayer (the server player is id 1), DestroyPlayer, EnumPlayers; system messages
//   DPSYS_CREATEPLAYERORGROUP, DPSYS_DESTROYPLAYERORGROUP and DPSYS_SESSIONLOST.
// - SendEx / Send (always guaranteed and in order per sender; asynchronous sends need
//   DPSEND_NOSENDCOMPLETEMSG; priority and time-out are accepted and ignored), CancelMessage,
//   Receive, GetMessageCount, GetMessageQueue (the send queue only). Player events are set
//   whenever a message for the player arrives.
//   An application that falls behind by more than 32 MiB of messages is not read from until
//   Receive makes room: the peers' sends wait meanwhile (SendEx may answer DPERR_BUSY), and
//   nothing is lost.
// - Lost peers are found by a keep-alive: a peer silent for DPCAPS.dwTimeout ms is dropped.
// Objects are free-threaded.
#include <dplay.h>
#include <dplobby.h>

HRESULT DPlayCreateInstance(REFCLSID clsid, REFIID iid, void** ppv);
