#include <ZIZO_Config>
#include <boost/lexical_cast.hpp>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>
#include <vector>

log4cxx::LoggerPtr ZIZO_Config::AC_Config_logger = log4cxx::Logger::getLogger("ZIZO.Config");

namespace {

const char* const kNoTextForm = "Cannot display value of this type";

// Integers, bools and strings render as lexical_cast writes them.
template <typename T>
std::string scalarText(const boost::any& value) {
    return boost::lexical_cast<std::string>(boost::any_cast<const T&>(value));
}

// "%.9g" for float and "%.17g" for double: the digits needed to read the
// value back exactly. Non-finite values are spelled out here because
// lexical_cast writes "inf" rather than "infinity". The classic locale keeps
// the decimal point a '.' whatever the process locale is.
template <typename T>
std::string realText(T value) {
    if (std::isnan(value)) {
        return std::signbit(value) ? "-nan" : "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-infinity" : "infinity";
    }
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::setprecision(std::numeric_limits<T>::max_digits10) << value;
    return text.str();
}

template <typename T>
std::string elementText(const T& element) {
    return boost::lexical_cast<std::string>(element);
}

std::string elementText(float element) {
    return realText(element);
}

template <typename T>
std::string vectorText(const boost::any& value) {
    std::string text;
    for (const T& element : boost::any_cast<const std::vector<T>&>(value)) {
        text += elementText(element);
        text += ' ';
    }
    return text;
}

template <typename T>
void replaceFromText(boost::any& value, const std::string& text) {
    // Convert before assigning so a refused text leaves the entry unchanged.
    T converted = boost::lexical_cast<T>(text);
    value = converted;
}

}  // namespace

bool ZIZO_Config::existAll(const std::map<std::string, std::type_index>& required,
                           std::string& missing) const {
    for (const auto& [key, type] : required) {
        const auto it = entries.find(key);
        if (it == entries.end() || std::type_index(it->second.type()) != type) {
            missing = key;
            return false;
        }
    }
    return true;
}

bool ZIZO_Config::existAll(const std::map<std::string, std::type_index>& required) const {
    std::string ignored;
    return existAll(required, ignored);
}

ZIZO_Config ZIZO_Config::getGroup(std::string prefix) const {
    ZIZO_Config group;
    // Keys are sorted, so all keys with this prefix follow one another.
    for (auto it = entries.lower_bound(prefix); it != entries.end(); ++it) {
        const std::string& key = it->first;
        if (key.size() < prefix.size() || key.compare(0, prefix.size(), prefix) != 0) {
            break;
        }
        group.entries[key.substr(prefix.size())] = it->second;
    }
    return group;
}

void ZIZO_Config::setGroup(const ZIZO_Config& other) {
    for (const auto& [key, value] : other.entries) {
        entries[key] = value;
    }
}

std::string ZIZO_Config::valueAsString(const boost::any& value) const {
    const std::type_info& type = value.type();
    if (type == typeid(float))
        return realText(boost::any_cast<float>(value));
    if (type == typeid(double))
        return realText(boost::any_cast<double>(value));
    if (type == typeid(std::string))
        return boost::any_cast<const std::string&>(value);
    if (type == typeid(int))
        return scalarText<int>(value);
    if (type == typeid(unsigned int))
        return scalarText<unsigned int>(value);
    if (type == typeid(bool))
        return scalarText<bool>(value);
    if (type == typeid(std::vector<int>))
        return vectorText<int>(value);
    if (type == typeid(std::vector<unsigned int>))
        return vectorText<unsigned int>(value);
    if (type == typeid(std::vector<float>))
        return vectorText<float>(value);
    if (type == typeid(std::vector<std::string>))
        return vectorText<std::string>(value);
    return kNoTextForm;
}

std::string ZIZO_Config::getAsString(const std::string& key) const {
    const auto it = entries.find(key);
    if (it == entries.end()) {
        return "";
    }
    return valueAsString(it->second);
}

void ZIZO_Config::printContent() const {
    for (const auto& [key, value] : entries) {
        const char* typeName = value.type().name();
        if (typeName[0] == '*') {
            ++typeName;
        }
        std::cout << key << " (datatype " << typeName << "): " << valueAsString(value) << std::endl;
    }
}

bool ZIZO_Config::overwrite(const std::string& key, const std::string& text) {
    const auto it = entries.find(key);
    if (it == entries.end()) {
        return false;
    }
    boost::any& value = it->second;
    const std::type_info& type = value.type();
    if (type == typeid(float)) {
        replaceFromText<float>(value, text);
    } else if (type == typeid(double)) {
        replaceFromText<double>(value, text);
    } else if (type == typeid(std::string)) {
        value = text;
    } else if (type == typeid(int)) {
        replaceFromText<int>(value, text);
    } else if (type == typeid(unsigned int)) {
        replaceFromText<unsigned int>(value, text);
    } else if (type == typeid(bool)) {
        replaceFromText<bool>(value, text);
    }
    return true;
}
