#pragma once

#include "Types/Elements.hpp"
#include "Types/Matrix.hpp"
#include "Types/Traits.hpp"
#include "Types/Vector.hpp"
#include "Types/VectorView.hpp"
