#include "app/Localization.h"

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "platform/foundation/String.h"

namespace app {

std::string localizedString(const std::string& english) {
    auto table = bundleDictionary(kLocalizationFile);
    if (!table) return english;
    auto* text = dynamic_cast<ns::String*>(table->objectForKey(english));
    return text ? std::string(text->utf8()) : english;
}

}  // namespace app
