#include "Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString kOrganization = QStringLiteral("Velmora");
const QString kApplication = QStringLiteral("Tranchette");

QString normalised(QString key) {
  key.replace(u'/', u'\\');
  while (key.endsWith(u'\\')) key.chop(1);
  while (key.startsWith(u'\\')) key.remove(0, 1);
  return key;
}
}  // namespace

TRegistry::TRegistry() = default;
TRegistry::~TRegistry() = default;

bool TRegistry::isApplicationKey(const QString &key) const {
  const QString k = normalised(key);
  return k.compare(QStringLiteral("Software\\Velmora\\Tranchette"), Qt::CaseInsensitive) == 0 ||
         k.compare(QStringLiteral("Velmora\\Tranchette"), Qt::CaseInsensitive) == 0;
}

bool TRegistry::OpenKey(const QString &key, bool canCreate) {
  settings_.reset();
  if (normalised(key).compare(QStringLiteral("Software"), Qt::CaseInsensitive) == 0) return true;
  if (!isApplicationKey(key)) return false;
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
  if (!canCreate && !QFileInfo(settings->fileName()).dir().exists()) return false;
  if (settings->status() != QSettings::NoError) return false;
  settings_ = std::move(settings);
  return true;
}

void TRegistry::CreateKey(const QString &key) {
  const QString folder = QFileInfo(QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication).fileName()).absolutePath();
  if (!isApplicationKey(key) || !QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
    throw ERegistryException(QStringLiteral("Failed to create key %1").arg(normalised(key)).toStdString());
}

void TRegistry::CloseKey() {
  if (!settings_) return;
  settings_->sync();
  const bool failed = settings_->status() != QSettings::NoError;
  settings_.reset();
  if (failed) throw ERegistryException("Failed to write the settings");
}

std::int32_t TRegistry::ReadInteger(const QString &name) {
  if (!settings_ || !settings_->contains(name))
    throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
  bool ok = false;
  const std::int32_t value = settings_->value(name).toString().toInt(&ok);
  if (!ok) throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
  return value;
}

void TRegistry::WriteInteger(const QString &name, std::int32_t value) {
  if (!settings_) throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name).toStdString());
  settings_->setValue(name, value);
}
