// The candidate scan of the peak search for one instruction-set level. Included by
// peak_search.cpp once per level, under that level's target, with QUARV_SCAN_NAMESPACE and
// QUARV_SCAN_LANES (floats per vector) defined; no include guard on purpose.

namespace QUARV_SCAN_NAMESPACE {

typedef float F __attribute__((vector_size(QUARV_SCAN_LANES * 4)));
typedef int M __attribute__((vector_size(QUARV_SCAN_LANES * 4)));
constexpr int L = QUARV_SCAN_LANES;

// Highest eligible value over [first, last) and the lowest index holding it. Mode Heights: the
// eligible values are made from m on the fly (the height test against m[k - 27] and m[k + 27],
// every flag still set); Build: the same, also stored into e; Stored: read from e.
// Each lane keeps its first maximum (strict test) and the lanes are merged by value, then
// index: the same choice as one upward scan with a strict greater-than. -1 when no value
// exceeds START_HEIGHT (the system's scan starts its running maximum there).
template <int mode> int strongest(const float* m, float* e, int first, int last) {
    // U independent running maxima, so that no iteration waits for the previous comparison.
    constexpr int U = 4;
    const F none = F{} + kIneligible;
    F top[U];
    M at[U], index[U];
    for (int u = 0; u < U; ++u) {
        top[u] = none;
        at[u] = M{};
        int lanes[L];
        for (int l = 0; l < L; ++l) lanes[l] = first + u * L + l;
        std::memcpy(&index[u], lanes, sizeof(M));
    }
    int k = first;
    for (; k + U * L <= last; k += U * L) {
        for (int u = 0; u < U; ++u) {
            const int ku = k + u * L;
            F v;
            if constexpr (mode != Stored) {
                F before, here, after;
                std::memcpy(&before, m + ku - CANDIDATE_SPAN, sizeof(F));
                std::memcpy(&here, m + ku, sizeof(F));
                std::memcpy(&after, m + ku + CANDIDATE_SPAN, sizeof(F));
                v = ((before < here) & (after < here)) ? here : none;
                if constexpr (mode == Build) std::memcpy(e + ku, &v, sizeof(F));
            } else {
                std::memcpy(&v, e + ku, sizeof(F));
            }
            const M higher = v > top[u];
            top[u] = higher ? v : top[u];
            at[u] = higher ? index[u] : at[u];
            index[u] += U * L;
        }
    }
    float best = kIneligible;
    int bestAt = -1;
    for (int u = 0; u < U; ++u)
        for (int l = 0; l < L; ++l)
            if (top[u][l] > best ||
                (top[u][l] == best && top[u][l] != kIneligible && at[u][l] < bestAt)) {
                best = top[u][l];
                bestAt = at[u][l];
            }
    for (; k < last; ++k) {
        float v = e[k];
        if constexpr (mode != Stored) {
            v = (m[k - CANDIDATE_SPAN] < m[k] && m[k + CANDIDATE_SPAN] < m[k]) ? m[k] : kIneligible;
            if constexpr (mode == Build) e[k] = v;
        }
        if (v > best) {
            best = v;
            bestAt = k;
        }
    }
    return best > START_HEIGHT ? bestAt : -1;
}

} // namespace QUARV_SCAN_NAMESPACE

#undef QUARV_SCAN_NAMESPACE
#undef QUARV_SCAN_LANES
