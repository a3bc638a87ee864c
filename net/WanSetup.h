#pragma once

// The router port opening: discover the gateway, remove the program's earlier mappings, map the
// server port (up to three attempts) and release. Publishes ExternalAddress; true on success
// (an external address and a last mapping result of 0).
bool RunWanSetup();

// At shutdown: the router mapping this run added goes (UpnpRemoveAddedMapping).
void RemoveWanMapping();

inline constexpr const char* kWanFailedText = "外网直连方式不可用，可能路由器不支持端口映射";
