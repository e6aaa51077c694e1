// Interned identifiers, as a browser keeps them: the same name or number
// always gives the same NPIdentifier, and identifiers live as long as the host.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "npapi/npruntime.h"

class IdentifierTable {
 public:
  NPIdentifier String(const std::string& name);
  NPIdentifier Int(int32_t value);

  bool Known(NPIdentifier id) const { return all_.count(id) != 0; }
  bool IsString(NPIdentifier id) const;
  // The name of a string identifier; null for integer or unknown ones.
  const std::string* Name(NPIdentifier id) const;
  // The number of an integer identifier.
  bool Number(NPIdentifier id, int32_t* value) const;
  std::size_t Count() const { return all_.size(); }

 private:
  struct Entry {
    bool isString;
    std::string name;
    int32_t number;
  };
  std::map<std::string, std::unique_ptr<Entry>> strings_;
  std::map<int32_t, std::unique_ptr<Entry>> numbers_;
  std::set<NPIdentifier> all_;
};
