#include "ZIZO_biquad.h"

template <typename T>
log4cxx::LoggerPtr ZIZO_biquad<T>::AC_Biquad_logger = log4cxx::Logger::getLogger("ZIZO.Biquad");

template <typename T>
ZIZO_biquad<T>::ZIZO_biquad(const std::string& name, const std::vector<T>& coefficients)
    : name(name) {
    if (coefficients.size() != 5) {
        // The count and "coefficients" touch: log monitoring matches the
        // record's text exactly, so it stays as the library logs it.
        LOG4CXX_ERROR(AC_Biquad_logger, "Biquad initialized with "
                                            << coefficients.size()
                                            << "coefficients, but 5 expected.");
        setUnity();
        return;
    }
    c = {coefficients[0], coefficients[1], coefficients[2], coefficients[3], coefficients[4]};
    state = {T(0), T(0)};
    if (!isStable()) {
        LOG4CXX_WARN(AC_Biquad_logger, "Biquad " << name << " unstable, fallback to unity");
        setUnity();
    }
}

template <typename T>
bool ZIZO_biquad<T>::isStable() const {
    const T p = -(c.a1 * T(0.5));
    const T d = p * p - c.a2;
    if (d < T(0)) {
        // Complex pair p +- j*sqrt(-d): its squared radius is p*p - d = a2.
        // Bounding real and imaginary part alone would pass a radius up to
        // sqrt(2), hence the a2 test.
        return std::fabs(p) < T(1) && d > T(-1) && c.a2 < T(1);
    }
    // Real poles p +- r; a non-number d makes r and both tests fail.
    const T r = std::sqrt(d);
    return std::fabs(p + r) < T(1) && std::fabs(p - r) < T(1);
}

template <typename T>
void ZIZO_biquad<T>::setUnity() {
    c = {T(1), T(0), T(0), T(0), T(0)};
    state = {T(0), T(0)};
}

template class ZIZO_biquad<float>;
