#include "CCaughtException.h"

#include "CJException.h"
#include "ISerializable.h"

#include <exception>

std::string CCaughtException::describe()
{
    try {
        throw;
    } catch (CJException& e) {
        return e.toString();
    } catch (ISerializable* e) {
        std::string text = e == nullptr ? std::string("NULL") : std::string(e->getClassName());
        delete e;
        return "an exception object " + text;
    } catch (std::exception& e) {
        return std::string("std::exception ") + e.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}
