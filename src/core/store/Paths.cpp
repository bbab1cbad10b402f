#include "core/store/Data.h"
#include "core/store/PathSubscription.h"
#include "core/store/Relation.h"
#include "core/store/Store.h"

#include <algorithm>

namespace {

bool IsConnectedKind(PathNodeRelation i_relation)
{
    return i_relation == Connected || i_relation == AlreadyConnected || i_relation == NewlyConnected;
}

bool Triggers(PathNodeRelation i_relation, bool i_connected)
{
    return i_connected ? (i_relation == Connected || i_relation == NewlyConnected)
                       : (i_relation == Disconnected || i_relation == NewlyDisconnected);
}

template <class F>
void ForEachEdge(PathNode* ip_node, F&& i_function)
{
    for (PathNode* lp_child : ip_node->m_children) {
        i_function(ip_node, lp_child);
        ForEachEdge(lp_child, i_function);
    }
}

template <class F>
bool AnyNode(const PathNode* ip_node, F&& i_predicate)
{
    if (i_predicate(ip_node))
        return true;
    for (const PathNode* lp_child : ip_node->m_children) {
        if (AnyNode(lp_child, i_predicate))
            return true;
    }
    return false;
}

// Decides whether a path holds for one root item, given the change that woke
// it: the node mp_parent (matched by mp_parentItem) has just gained or lost
// mp_childItem at node mp_child.
class PathEvaluation
{
public:
    PathEvaluation(PathNode* ip_parent, Item* ip_parentItem, PathNode* ip_child, Item* ip_childItem)
        : mp_parent(ip_parent), mp_parentItem(ip_parentItem), mp_child(ip_child), mp_childItem(ip_childItem)
    {
        for (PathNode* lp_node = ip_parent; lp_node; lp_node = lp_node->mp_parent)
            m_chain.push_back(lp_node);
    }

    // The root items from which the changed step can be reached.
    std::vector<Item*> CandidateRoots() const
    {
        std::vector<Item*> l_items{mp_parentItem};
        for (PathNode* lp_node = mp_parent; lp_node->mp_parent; lp_node = lp_node->mp_parent) {
            // A node that must be absent cannot lead down to the change.
            if (!IsConnectedKind(lp_node->m_relation))
                return {};
            std::vector<Item*> l_above;
            for (Item* lp_item : l_items) {
                if (const PartnerSet* lp_partners = lp_item->Partners(lp_node->mp_parent->mp_type)) {
                    lp_partners->ForEach([&](Item* ip_partner) {
                        if (lp_node->mp_parent->Matches(ip_partner) && !ip_partner->IsBeingRemoved())
                            l_above.push_back(ip_partner);
                    });
                }
            }
            std::sort(l_above.begin(), l_above.end());
            l_above.erase(std::unique(l_above.begin(), l_above.end()), l_above.end());
            l_items = std::move(l_above);
        }
        return l_items;
    }

    bool Holds(PathNode* ip_node, Item* ip_item) const
    {
        const bool l_onChain = OnChain(ip_node);
        if (ip_node == mp_parent && ip_item != mp_parentItem)
            return false;
        for (PathNode* lp_child : ip_node->m_children) {
            if (ip_node == mp_parent && lp_child == mp_child) {
                if (!Holds(mp_child, mp_childItem))
                    return false;
            } else if (l_onChain && OnChain(lp_child)) {
                if (!IsConnectedKind(lp_child->m_relation) || !AnyMatch(lp_child, ip_item))
                    return false;
            } else if (AnyMatch(lp_child, ip_item) != IsConnectedKind(lp_child->m_relation)) {
                return false;
            }
        }
        return true;
    }

private:
    bool OnChain(const PathNode* ip_node) const
    {
        return std::find(m_chain.begin(), m_chain.end(), ip_node) != m_chain.end();
    }

    // Whether the item has a partner matching the node for which the node's
    // own subtree holds.
    bool AnyMatch(PathNode* ip_node, Item* ip_item) const
    {
        const PartnerSet* lp_partners = ip_item->Partners(ip_node->mp_type);
        if (!lp_partners)
            return false;
        if (ip_node->mp_fixedItem)
            return lp_partners->Contains(ip_node->mp_fixedItem) && Holds(ip_node, ip_node->mp_fixedItem);
        if (ip_node->m_children.empty() && !OnChain(ip_node))
            return true;
        bool l_found = false;
        std::vector<Item*> l_partners;
        lp_partners->AppendTo(l_partners);
        for (Item* lp_partner : l_partners) {
            if (Holds(ip_node, lp_partner)) {
                l_found = true;
                break;
            }
        }
        return l_found;
    }

    PathNode* mp_parent;
    Item* mp_parentItem;
    PathNode* mp_child;
    Item* mp_childItem;
    std::vector<PathNode*> m_chain;  // mp_parent and its ancestors
};

}  // namespace

PathNode::PathNode(Data* ip_data, const char* ip_typeName) : mp_type(ip_data->GetType(ip_typeName))
{
}

PathNode::PathNode(Item* ip_fixedItem) : mp_type(ip_fixedItem->mp_type), mp_fixedItem(ip_fixedItem)
{
}

PathNode::PathNode(PathNode* ip_parent, const char* ip_typeName, PathNodeRelation i_relation)
    : mp_type(ip_parent->mp_type->GetData()->GetType(ip_typeName)), m_relation(i_relation), mp_parent(ip_parent)
{
    ip_parent->m_children.push_back(this);
}

PathNode::PathNode(PathNode* ip_parent, Item* ip_fixedItem, PathNodeRelation i_relation)
    : mp_type(ip_fixedItem->mp_type), mp_fixedItem(ip_fixedItem), m_relation(i_relation), mp_parent(ip_parent)
{
    ip_parent->m_children.push_back(this);
}

PathNode::~PathNode()
{
    for (PathNode* lp_child : m_children)
        delete lp_child;
}

bool PathNode::Matches(const Item* ip_item) const
{
    return ip_item->mp_type == mp_type && (!mp_fixedItem || ip_item == mp_fixedItem);
}

void Data::AddPathEventHandler(PathNode* ip_root, EventHandlerBase<Item*>* ip_handler)
{
    // Check every step first, so a bad path leaves nothing half-registered.
    ForEachEdge(ip_root, [](PathNode* ip_parent, PathNode* ip_child) {
        if (!ip_parent->mp_type->FindRelation(ip_child->mp_type))
            throw new NotRelatedException("path step \"" + ip_parent->mp_type->m_name + "\" to \"" +
                                          ip_child->mp_type->m_name + "\": types are not related");
    });
    auto* lp_subscription = new PathSubscription{ip_root, ip_handler};
    AcquireHandler(ip_handler);
    m_pathSubscriptions.push_back(lp_subscription);
    ForEachEdge(ip_root, [&](PathNode* ip_parent, PathNode* ip_child) {
        ip_parent->mp_type->FindRelation(ip_child->mp_type)->m_pathEdges.push_back({lp_subscription, ip_parent, ip_child});
    });
    AnyNode(ip_root, [](const PathNode* ip_node) {
        if (ip_node->mp_fixedItem)
            ip_node->mp_fixedItem->m_flags |= Item::PathAnchorFlag;
        return false;
    });
}

void Store::FirePaths(Relation* ip_relation, Item* ip_a, Item* ip_b, bool i_connected)
{
    if (!ip_relation || ip_relation->m_pathEdges.empty())
        return;
    StoreScope l_scope;
    Data* lp_data = ip_a->mp_type->GetData();
    // Over a copy: a subscription added meanwhile is not woken by this change.
    const std::vector<PathEdge> l_edges = ip_relation->m_pathEdges;
    std::vector<PathSubscription*> l_dead;
    for (const PathEdge& l_edge : l_edges) {
        PathSubscription* lp_subscription = l_edge.mp_subscription;
        if (lp_subscription->m_dropped)
            continue;
        if (lp_subscription->mp_handler->m_removed) {
            l_dead.push_back(lp_subscription);
            continue;
        }
        if (!Triggers(l_edge.mp_child->m_relation, i_connected))
            continue;
        for (int l_side = 0; l_side < 2; ++l_side) {
            Item* lp_parentItem = l_side == 0 ? ip_a : ip_b;
            Item* lp_childItem = l_side == 0 ? ip_b : ip_a;
            if (!l_edge.mp_parent->Matches(lp_parentItem) || !l_edge.mp_child->Matches(lp_childItem))
                continue;
            PathEvaluation l_evaluation(l_edge.mp_parent, lp_parentItem, l_edge.mp_child, lp_childItem);
            for (Item* lp_root : l_evaluation.CandidateRoots()) {
                if (lp_subscription->m_dropped || lp_subscription->mp_handler->m_removed)
                    break;
                if (!lp_subscription->mp_root->Matches(lp_root) || !l_evaluation.Holds(lp_subscription->mp_root, lp_root))
                    continue;
                lp_subscription->mp_handler->Handle(lp_root);
            }
        }
    }
    std::sort(l_dead.begin(), l_dead.end());
    l_dead.erase(std::unique(l_dead.begin(), l_dead.end()), l_dead.end());
    for (PathSubscription* lp_subscription : l_dead)
        DropSubscription(lp_data, lp_subscription);
}

void Store::DropSubscriptionsAnchoredAt(Data* ip_data, Item* ip_item)
{
    std::vector<PathSubscription*> l_anchored;
    for (PathSubscription* lp_subscription : ip_data->m_pathSubscriptions) {
        if (AnyNode(lp_subscription->mp_root, [ip_item](const PathNode* ip_node) { return ip_node->mp_fixedItem == ip_item; }))
            l_anchored.push_back(lp_subscription);
    }
    for (PathSubscription* lp_subscription : l_anchored)
        DropSubscription(ip_data, lp_subscription);
}

void Store::DropSubscription(Data* ip_data, PathSubscription* ip_subscription)
{
    if (ip_subscription->m_dropped)
        return;
    ip_subscription->m_dropped = true;
    ForEachEdge(ip_subscription->mp_root, [ip_subscription](PathNode* ip_parent, PathNode* ip_child) {
        auto& l_edges = ip_parent->mp_type->FindRelation(ip_child->mp_type)->m_pathEdges;
        l_edges.erase(std::remove_if(l_edges.begin(), l_edges.end(),
                                     [ip_subscription](const PathEdge& i_edge) { return i_edge.mp_subscription == ip_subscription; }),
                      l_edges.end());
    });
    auto& l_subscriptions = ip_data->m_pathSubscriptions;
    l_subscriptions.erase(std::remove(l_subscriptions.begin(), l_subscriptions.end(), ip_subscription), l_subscriptions.end());
    StoreScope::DeleteLater(ip_subscription, [](void* ip_object) { Store::DeleteSubscription(static_cast<PathSubscription*>(ip_object)); });
}

void Store::DeleteSubscription(PathSubscription* ip_subscription)
{
    ReleaseHandler(ip_subscription->mp_handler);
    delete ip_subscription->mp_root;
    delete ip_subscription;
}
