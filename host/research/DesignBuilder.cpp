#include "host/research/DesignBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

using Defined = std::vector<std::optional<double>>;
using Column = std::vector<double>;

bool contains(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// An undefined value becomes the mean of the defined ones, so it adds nothing
// the column's own level does not already explain.
Column filled(const Defined& values, const std::string& name) {
    double sum = 0.0;
    std::size_t defined = 0;
    for (const std::optional<double>& v : values) {
        if (v) {
            sum += *v;
            ++defined;
        }
    }
    if (defined == 0) {
        throw DocumentError("the column " + inQuotes(name) + " holds no defined value");
    }
    const double mean = sum / static_cast<double>(defined);
    Column column;
    for (const std::optional<double>& v : values) column.push_back(v ? *v : mean);
    return column;
}

// The first volume has no predecessor: it is undefined, as in the tables, and filled alike.
Column derivative(const Column& x, const std::string& name) {
    Defined d(x.size());
    for (std::size_t t = 1; t < x.size(); ++t) d[t] = x[t] - x[t - 1];
    return filled(d, name + " derivative");
}

Column squared(Column x) {
    for (double& v : x) v *= v;
    return x;
}

const Defined& findColumn(const std::vector<ConfoundTable>& tables, const std::string& name) {
    const Defined* found = nullptr;
    for (const ConfoundTable& table : tables) {
        if (const Defined* column = table.column(name)) {
            if (found != nullptr) {
                throw DocumentError("the column " + inQuotes(name) + " is in more than one table");
            }
            found = column;
        }
    }
    if (found == nullptr) {
        throw DocumentError("no table has a column " + inQuotes(name));
    }
    return *found;
}

// The plug-in reads the design as floats: a value that is not a finite float
// (a square or a difference beyond its range) would end every run that uses it.
std::vector<float> floatColumn(const std::string& name, const Column& values) {
    std::vector<float> column(values.begin(), values.end());
    for (std::size_t t = 0; t < column.size(); ++t) {
        if (!std::isfinite(column[t])) {
            char value[32];
            std::snprintf(value, sizeof value, "%g", values[t]);
            throw DocumentError("the column " + inQuotes(name) + " holds " + value + " in row " +
                                std::to_string(t + 1) + ", which is not a finite float");
        }
    }
    return column;
}

void add(DesignTable& design, const std::string& name, const Column& values) {
    std::vector<float> column = floatColumn(name, values);
    design.names.push_back(name);
    design.columns.push_back(std::move(column));
}

void addBlock(DesignTable& design, const std::vector<ConfoundTable>& tables, const std::vector<std::string>& names,
              const DesignRequest& request) {
    std::vector<Column> base;
    for (const std::string& name : names) {
        base.push_back(filled(findColumn(tables, name), name));
        add(design, name, base.back());
    }
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (contains(request.derivatives, names[k]))
            add(design, names[k] + " derivative", derivative(base[k], names[k]));
    }
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (!contains(request.squares, names[k])) continue;
        add(design, names[k] + " squared", squared(base[k]));
        if (contains(request.derivatives, names[k])) {
            add(design, names[k] + " derivative squared", squared(derivative(base[k], names[k])));
        }
    }
}

void checkRequest(const DesignRequest& request) {
    std::vector<std::string> chosen = request.interest;
    chosen.insert(chosen.end(), request.confounds.begin(), request.confounds.end());
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        if (std::find(chosen.begin(), chosen.begin() + static_cast<std::ptrdiff_t>(k), chosen[k]) !=
            chosen.begin() + static_cast<std::ptrdiff_t>(k)) {
            throw DocumentError("the column " + inQuotes(chosen[k]) + " is chosen twice");
        }
    }
    for (const auto* list : {&request.derivatives, &request.squares}) {
        for (const std::string& name : *list) {
            if (!contains(chosen, name)) {
                throw DocumentError("the column " + inQuotes(name) +
                                    " is to be expanded but is neither of interest nor a confound");
            }
        }
    }
    if (chosen.empty()) {
        throw DocumentError("no columns are chosen");
    }
}

void checkRows(const std::vector<ConfoundTable>& tables, std::optional<int32_t> volumes) {
    if (tables.front().rows() == 0) {
        throw DocumentError(inQuotes(tables.front().path) + " holds no rows below its header");
    }
    for (const ConfoundTable& table : tables) {
        const std::size_t expected = volumes ? static_cast<std::size_t>(*volumes) : tables.front().rows();
        if (table.rows() != expected) {
            throw DocumentError(inQuotes(table.path) + " has " + std::to_string(table.rows()) + " rows; " +
                                (volumes ? "the run has " + std::to_string(*volumes) + " volumes"
                                         : inQuotes(tables.front().path) + " has " + std::to_string(expected)));
        }
    }
}

} // namespace

DesignTable buildDesign(const std::vector<ConfoundTable>& tables, const DesignRequest& request,
                        std::optional<int32_t> volumes) {
    if (tables.empty()) {
        throw DocumentError("no table is given");
    }
    checkRequest(request);
    checkRows(tables, volumes);
    DesignTable design;
    addBlock(design, tables, request.interest, request);
    design.firstConfoundPredictor = static_cast<int32_t>(design.names.size()) + 1;
    addBlock(design, tables, request.confounds, request);
    add(design, "Constant", Column(tables.front().rows(), 1.0));
    return design;
}

} // namespace corvantis
