// The module's stadium data: describe_stadium, the built-in stadium's text,
// the collision flag names and the length given to planes. Everything here
// only converts what src/stadium and the engine headers hold.
#include <array>
#include <string>
#include <vector>

#include "args.hpp"
#include "arrays.hpp"
#include "guard.hpp"
#include "physics/geometry.hpp"
#include "py_ref.hpp"
#include "stadium_text_arg.hpp"
#include "vexlo/classic.hpp"
#include "vexlo/flag.hpp"
#include "vexlo/stadium.hpp"

namespace vexlo::py {
namespace {

// An array of one value per item: shape (n,) for one column, (n, W) for more.
template <class T, std::size_t W, class Item, class Get>
Ref column(const std::vector<Item>& items, int typenum, Get get) {
    const npy_intp dims[2] = {static_cast<npy_intp>(items.size()), static_cast<npy_intp>(W)};
    T* data = nullptr;
    Ref array = new_array(W == 1 ? 1 : 2, dims, typenum, data);
    if (!array) return array;
    for (const Item& item : items) {
        const std::array<T, W> row = get(item);
        for (T v : row) *data++ = v;
    }
    return array;
}

template <class Item, class Get>
Ref points(const std::vector<Item>& items, Get get) {
    return column<double, 2>(items, NPY_FLOAT64, [&](const Item& i) {
        const Vec2 p = get(i);
        return std::array<double, 2>{p.x, p.y};
    });
}

template <class Item, class Get>
Ref numbers(const std::vector<Item>& items, Get get) {
    return column<double, 1>(items, NPY_FLOAT64, [&](const Item& i) { return std::array<double, 1>{get(i)}; });
}

template <class Item, class Get>
Ref integers(const std::vector<Item>& items, Get get) {
    return column<std::int64_t, 1>(items, NPY_INT64,
                                   [&](const Item& i) { return std::array<std::int64_t, 1>{get(i)}; });
}

template <class Item, class Get>
Ref flags(const std::vector<Item>& items, Get get) {
    return column<npy_bool, 1>(items, NPY_BOOL,
                               [&](const Item& i) { return std::array<npy_bool, 1>{static_cast<npy_bool>(get(i))}; });
}

Ref optional_float(const std::optional<double>& v) {
    if (!v) return Ref::borrowed(Py_None);
    return Ref(PyFloat_FromDouble(*v));
}

// Sets dict[key] = value; false when the value could not be made (its error
// pending) or not stored.
bool put(PyObject* dict, const char* key, const Ref& value) {
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

Ref describe_segments(const std::vector<WallDescription>& walls) {
    Ref dict(PyDict_New());
    if (!dict) return dict;
    using W = WallDescription;
    PyObject* d = dict.get();
    const bool ok = put(d, "v0", points(walls, [](const W& w) { return w.segment.v0; })) &&
                    put(d, "v1", points(walls, [](const W& w) { return w.segment.v1; })) &&
                    put(d, "center", points(walls, [](const W& w) { return w.segment.center; })) &&
                    put(d, "radius", numbers(walls, [](const W& w) { return w.segment.arc_radius; })) &&
                    put(d, "turn", numbers(walls, [](const W& w) { return w.turn; })) &&
                    put(d, "visible", flags(walls, [](const W& w) { return w.visible; })) &&
                    put(d, "b_coef", numbers(walls, [](const W& w) { return w.segment.b_coef; })) &&
                    put(d, "bias", numbers(walls, [](const W& w) { return w.segment.bias; })) &&
                    put(d, "c_group", integers(walls, [](const W& w) { return w.segment.c_group; })) &&
                    put(d, "c_mask", integers(walls, [](const W& w) { return w.segment.c_mask; }));
    return ok ? std::move(dict) : Ref();
}

Ref describe_planes(const std::vector<Plane>& planes) {
    Ref dict(PyDict_New());
    if (!dict) return dict;
    PyObject* d = dict.get();
    const bool ok = put(d, "normal", points(planes, [](const Plane& p) { return p.normal; })) &&
                    put(d, "dist", numbers(planes, [](const Plane& p) { return p.dist; })) &&
                    put(d, "b_coef", numbers(planes, [](const Plane& p) { return p.b_coef; })) &&
                    put(d, "c_group", integers(planes, [](const Plane& p) { return p.c_group; })) &&
                    put(d, "c_mask", integers(planes, [](const Plane& p) { return p.c_mask; }));
    return ok ? std::move(dict) : Ref();
}

Ref describe_goals(const std::vector<Goal>& goals) {
    Ref dict(PyDict_New());
    if (!dict) return dict;
    PyObject* d = dict.get();
    const bool ok = put(d, "p0", points(goals, [](const Goal& g) { return g.p0; })) &&
                    put(d, "p1", points(goals, [](const Goal& g) { return g.p1; })) &&
                    put(d, "team", integers(goals, [](const Goal& g) { return g.team; }));
    return ok ? std::move(dict) : Ref();
}

Ref colours(const std::vector<DiscDescription>& discs) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(discs.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < discs.size(); ++i) {
        const auto& c = discs[i].color;
        Ref item = c ? Ref(PyUnicode_FromStringAndSize(c->data(), static_cast<Py_ssize_t>(c->size())))
                     : Ref::borrowed(Py_None);
        if (!item) return Ref();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

Ref describe_discs(const std::vector<DiscDescription>& discs) {
    Ref dict(PyDict_New());
    if (!dict) return dict;
    using D = DiscDescription;
    PyObject* d = dict.get();
    const bool ok = put(d, "pos", points(discs, [](const D& s) { return s.disc.pos; })) &&
                    put(d, "radius", numbers(discs, [](const D& s) { return s.disc.radius; })) &&
                    put(d, "inv_mass", numbers(discs, [](const D& s) { return s.disc.inv_mass; })) &&
                    put(d, "damping", numbers(discs, [](const D& s) { return s.disc.damping; })) &&
                    put(d, "b_coef", numbers(discs, [](const D& s) { return s.disc.b_coef; })) &&
                    put(d, "c_group", integers(discs, [](const D& s) { return s.disc.c_group; })) &&
                    put(d, "c_mask", integers(discs, [](const D& s) { return s.disc.c_mask; })) &&
                    put(d, "obstacle", flags(discs, [](const D& s) { return s.obstacle; })) &&
                    put(d, "color", colours(discs));
    return ok ? std::move(dict) : Ref();
}

PyObject* to_python(const StadiumDescription& s) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    Ref pitch = s.pitch ? Ref(Py_BuildValue("(ddd)", s.pitch->half_width, s.pitch->half_height,
                                            s.pitch->kick_off_radius))
                        : Ref::borrowed(Py_None);
    const bool ok =
        put(d, "segments", describe_segments(s.walls)) && put(d, "planes", describe_planes(s.planes)) &&
        put(d, "goals", describe_goals(s.goals)) && put(d, "discs", describe_discs(s.discs)) &&
        put(d, "ball_walls", column<double, 4>(s.ball_walls, NPY_FLOAT64, [](const auto& r) { return r; })) &&
        put(d, "ball_radius", Ref(PyFloat_FromDouble(s.ball_radius))) &&
        put(d, "player_radius", Ref(PyFloat_FromDouble(s.player_radius))) &&
        put(d, "spawn_distance", Ref(PyFloat_FromDouble(s.spawn_distance))) &&
        put(d, "kick_rate_limit",
            Ref(Py_BuildValue("(LLL)", static_cast<long long>(s.kick_rate_min),
                              static_cast<long long>(s.kick_rate_cost), static_cast<long long>(s.kick_rate_cap)))) &&
        put(d, "width", optional_float(s.width)) && put(d, "height", optional_float(s.height)) &&
        put(d, "pitch", pitch);
    return ok ? dict.release() : nullptr;
}

const char* const DESCRIBE_PARAMS[] = {"vxs"};
const Signature DESCRIBE_SIGNATURE{"describe_stadium", DESCRIBE_PARAMS, 1, 1};

PyObject* describe(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* text = nullptr;
    if (!bind(DESCRIBE_SIGNATURE, args, nargs, kwnames, &text)) return nullptr;
    const std::optional<std::string_view> utf8 = stadium_text_arg(text);
    if (!utf8) return nullptr;
    const DescriptionOrError described = describe_stadium(*utf8);
    if (const auto* error = std::get_if<std::string>(&described)) {
        PyErr_SetString(PyExc_ValueError, error->c_str());
        return nullptr;
    }
    return to_python(std::get<StadiumDescription>(described));
}

PyMethodDef STADIUM_FUNCTIONS[] = {
    {"describe_stadium", as_cfunction(fastcall<describe>), METH_FASTCALL | METH_KEYWORDS,
     "describe_stadium(vxs)\n--\n\n"
     "What observers and pictures need of a stadium text, engine frame (y up),\n"
     "as the engine decodes and builds it; a bad text raises the ValueError of\n"
     "VecEnv.from_vxs. A dict of NumPy arrays and plain values:\n"
     "segments (v0, v1, center, radius, turn: counter-clockwise from v0 to v1,\n"
     "0 when straight; visible, b_coef, bias, c_group, c_mask), planes (normal,\n"
     "dist, b_coef, c_group, c_mask), goals (p0, p1, team), discs (the stadium's\n"
     "discs but the ball's: pos, radius, inv_mass, damping, b_coef, c_group,\n"
     "c_mask, obstacle, color), ball_walls (rows as VecEnv.wall_segments),\n"
     "ball_radius, player_radius, spawn_distance, kick_rate_limit (min, cost,\n"
     "cap), width and height (declared, or None), pitch (half width, half\n"
     "height, kick-off radius, or None)."},
    {nullptr, nullptr, 0, nullptr},
};

Ref collision_flags() {
    Ref dict(PyDict_New());
    if (!dict) return dict;
    for (const auto& [name, bits] : flag::FLAG_NAMES) {
        Ref value(PyLong_FromLongLong(bits));
        if (!value) return Ref();
        Ref key(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return Ref();
    }
    return dict;
}

// Adds value to the module under name (the module takes the reference).
int add(PyObject* module, const char* name, Ref value) {
    if (!value || PyModule_AddObject(module, name, value.get()) < 0) return -1;
    value.release();
    return 0;
}

}  // namespace

int add_stadium_info(PyObject* module) {
    if (PyModule_AddFunctions(module, STADIUM_FUNCTIONS) < 0) return -1;
    Ref classic(PyUnicode_FromStringAndSize(CLASSIC_STADIUM.data(), static_cast<Py_ssize_t>(CLASSIC_STADIUM.size())));
    Ref names = collision_flags();
    Ref read_only = names ? Ref(PyDictProxy_New(names.get())) : Ref();
    return add(module, "CLASSIC_VXS", std::move(classic)) == 0 &&
                   add(module, "COLLISION_FLAGS", std::move(read_only)) == 0 &&
                   add(module, "PLANE_HALF_LENGTH", Ref(PyFloat_FromDouble(PLANE_HALF_LENGTH))) == 0
               ? 0
               : -1;
}

}  // namespace vexlo::py
