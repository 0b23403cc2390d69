#pragma once

// The per-user settings store (TRegistry): the four integer values and the
// exact-cuts box, in QSettings under the registry key's name.

#include <cstdint>
#include <memory>
#include <stdexcept>

#include <QString>

class QSettings;

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The current user's settings store, with the shape of a registry: keys are
// opened and created, integer values read and written. It sits on
// QSettings("Velmora", "Tranchette"): ~/.config/Velmora/Tranchette.conf on
// Linux, the same key in the registry on Windows.
//
// "Software" stands for the user's settings root and always opens; the key
// "Software\Velmora\Tranchette" is the application's store.
class TRegistry {
 public:
  TRegistry();
  ~TRegistry();
  TRegistry(const TRegistry &) = delete;
  TRegistry &operator=(const TRegistry &) = delete;

  // Opens a key; false when it does not exist and may not be created, or
  // cannot be read.
  bool OpenKey(const QString &key, bool canCreate);
  // Creates (or simply opens) a key; raises ERegistryException when it cannot.
  void CreateKey(const QString &key);
  // Writes what was written to the store and closes the key; raises when the
  // store cannot be written.
  void CloseKey();

  // Raise ERegistryException when no key is open, the value is missing or it
  // is not an integer.
  std::int32_t ReadInteger(const QString &name);
  void WriteInteger(const QString &name, std::int32_t value);

 private:
  bool isApplicationKey(const QString &key) const;
  std::unique_ptr<QSettings> settings_;
};
