#include "web/ItemLookup.h"

#include <cstring>

#include "app/SharedState.h"

std::string LookupItem(const char* query) {
  if (!query) return {};
  const char* eq = std::strchr(query, '=');
  if (!eq || eq == query) return {};
  return FindItem(eq + 1).value_or(std::string());
}
