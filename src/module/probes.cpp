// The module-level collision probes: one contact or geometry test at a time,
// on values built from the arguments, through the engine's own primitives.
#include <optional>

#include "args.hpp"
#include "guard.hpp"
#include "physics/contacts.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

Ref vec2_object(Vec2 v) { return Ref(Py_BuildValue("(dd)", v.x, v.y)); }

PyObject* hit_object(const std::optional<SegmentHit>& hit) {
    if (!hit) Py_RETURN_NONE;
    return Py_BuildValue("(d(dd))", hit->dist, hit->normal.x, hit->normal.y);
}

// Binds, then converts each argument: vector parameters (is_vec[i]) as a
// 2-tuple into vecs, the others as a float into nums, both in parameter order.
bool convert_probe(const Signature& sig, const bool* is_vec, PyObject* const* args,
                   Py_ssize_t nargs, PyObject* kwnames, Vec2* vecs, double* nums) {
    PyObject* objs[10];
    if (!bind(sig, args, nargs, kwnames, objs)) return false;
    for (int i = 0; i < sig.n_params; ++i) {
        const bool ok = is_vec[i] ? to_vec2(objs[i], sig.params[i], *vecs++)
                                  : to_f64(objs[i], sig.params[i], *nums++);
        if (!ok) return false;
    }
    return true;
}

const char* const DISC_DISC_PARAMS[] = {"pa", "pb", "va", "vb", "ra",
                                        "rb", "ima", "imb", "ba", "bb"};
const bool DISC_DISC_VEC[] = {true, true, true, true, false, false, false, false, false, false};
const Signature DISC_DISC_SIGNATURE{"disc_disc", DISC_DISC_PARAMS, 10, 10};

PyObject* probe_disc_disc(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Vec2 v[4];
    double x[6];
    if (!convert_probe(DISC_DISC_SIGNATURE, DISC_DISC_VEC, args, nargs, kwnames, v, x))
        return nullptr;
    Disc a, b;
    a.pos = v[0];
    b.pos = v[1];
    a.vel = v[2];
    b.vel = v[3];
    a.radius = x[0];
    b.radius = x[1];
    a.inv_mass = x[2];
    b.inv_mass = x[3];
    a.b_coef = x[4];
    b.b_coef = x[5];
    disc_disc(a, b);
    return make_tuple(vec2_object(a.pos), vec2_object(b.pos), vec2_object(a.vel),
                      vec2_object(b.vel));
}

const char* const DISC_VERTEX_PARAMS[] = {"pd", "pv", "v", "radius", "bd", "bv"};
const bool DISC_VERTEX_VEC[] = {true, true, true, false, false, false};
const Signature DISC_VERTEX_SIGNATURE{"disc_vertex", DISC_VERTEX_PARAMS, 6, 6};

PyObject* probe_disc_vertex(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    Vec2 v[3];
    double x[3];
    if (!convert_probe(DISC_VERTEX_SIGNATURE, DISC_VERTEX_VEC, args, nargs, kwnames, v, x))
        return nullptr;
    Vec2 pos = v[0];
    Vec2 vel = v[2];
    disc_vertex(pos, vel, x[0], x[1], v[1], x[2]);
    return make_tuple(vec2_object(pos), vec2_object(vel));
}

const char* const NO_CURVE_PARAMS[] = {"pd", "v0", "v1"};
const bool NO_CURVE_VEC[] = {true, true, true};
const Signature NO_CURVE_SIGNATURE{"segment_no_curve", NO_CURVE_PARAMS, 3, 3};

PyObject* probe_segment_no_curve(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    Vec2 v[3];
    if (!convert_probe(NO_CURVE_SIGNATURE, NO_CURVE_VEC, args, nargs, kwnames, v, nullptr))
        return nullptr;
    return hit_object(segment_no_curve(v[0], v[1], v[2]));
}

const char* const CURVE_PARAMS[] = {"pd", "c", "cr", "t0", "t1", "curve"};
const bool CURVE_VEC[] = {true, true, false, true, true, false};
const Signature CURVE_SIGNATURE{"segment_curve", CURVE_PARAMS, 6, 6};

PyObject* probe_segment_curve(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    Vec2 v[4];
    double x[2];
    if (!convert_probe(CURVE_SIGNATURE, CURVE_VEC, args, nargs, kwnames, v, x)) return nullptr;
    return hit_object(segment_curve(v[0], v[1], x[0], v[2], v[3], x[1]));
}

const char* const DISC_PLANE_PARAMS[] = {"pd", "normal", "v", "dist", "radius", "bd", "bp"};
const bool DISC_PLANE_VEC[] = {true, true, true, false, false, false, false};
const Signature DISC_PLANE_SIGNATURE{"disc_plane", DISC_PLANE_PARAMS, 7, 7};

PyObject* probe_disc_plane(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    Vec2 v[3];
    double x[4];
    if (!convert_probe(DISC_PLANE_SIGNATURE, DISC_PLANE_VEC, args, nargs, kwnames, v, x))
        return nullptr;
    Disc d;
    d.pos = v[0];
    d.vel = v[2];
    d.radius = x[1];
    d.b_coef = x[2];
    Plane plane;
    plane.normal = v[1];
    plane.dist = x[0];
    plane.b_coef = x[3];
    disc_plane(d, plane);
    return make_tuple(vec2_object(d.pos), vec2_object(d.vel));
}

constexpr int FASTCALL = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

// Registered in this order.
PyMethodDef PROBE_FUNCTIONS[] = {
    {"disc_disc", as_cfunction(fastcall<probe_disc_disc>), FASTCALL,
     "disc_disc(pa, pb, va, vb, ra, rb, ima, imb, ba, bb)\n--\n\n"},
    {"disc_vertex", as_cfunction(fastcall<probe_disc_vertex>), FASTCALL,
     "disc_vertex(pd, pv, v, radius, bd, bv)\n--\n\n"},
    {"segment_no_curve", as_cfunction(fastcall<probe_segment_no_curve>), FASTCALL,
     "segment_no_curve(pd, v0, v1)\n--\n\n"},
    {"segment_curve", as_cfunction(fastcall<probe_segment_curve>), FASTCALL,
     "segment_curve(pd, c, cr, t0, t1, curve)\n--\n\n"},
    {"disc_plane", as_cfunction(fastcall<probe_disc_plane>), FASTCALL,
     "disc_plane(pd, normal, v, dist, radius, bd, bp)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vexlo::py
