#include "web/send/ItemLookup.h"

#include <cstring>

#include "app/SharedState.h"

std::string LookupItem(SharedState& state, const char* query) {
  if (!query) return {};
  const char* eq = std::strchr(query, '=');
  if (!eq || eq == query) return {};
  return state.FindItem(eq + 1).value_or(std::string());
}
